"""Registries for the end-to-end scenarios: the driver package's leftovers with real subtrees, and
the keys beside them that must survive. Paths are beneath HKEY_LOCAL_MACHINE."""

TESSAMOOR = r"SOFTWARE\Tessamoor"
APIS = r"SOFTWARE\Tessamoor\Pellinor\APIs"
SERVICES = r"SYSTEM\CurrentControlSet\Services"
SYSTEM_LOG = SERVICES + r"\EventLog\System"
ROOTS = [TESSAMOOR, APIS, SERVICES, SYSTEM_LOG]

SERVICE_NAMES = ["tarnoxel", "tarn-ul", "tarnulqe", "tarnwemk", "tarnwemr", "tarnhiv", "tarnzofa"]
EVENT_SOURCES = ["tarnoxel", "tarn-ul", "tarnulqe", "tarnhiv", "tarnzofa"]
LISTED = ([TESSAMOOR + "\\Brisolde", TESSAMOOR + "\\Corvanth", APIS + "\\1"]
          + [SERVICES + "\\" + name for name in SERVICE_NAMES]
          + [SYSTEM_LOG + "\\" + name for name in EVENT_SOURCES])

# The 32-bit view's copy of the vendor's key: the x86-64 build works in the 64-bit view only.
WOW64_TESSAMOOR = r"SOFTWARE\WOW6432Node\Tessamoor"

# The trees every scenario reads back whole.
CHECKED_TREES = [TESSAMOOR, WOW64_TESSAMOOR, SERVICES]

NEIGHBOUR_SERVICES = ["tarn", "tarnoxel2", "tarnhivx", "Tarnwemk-Helper", "xtarnzofa"]


def service(name, image):
    return [("DisplayName", "sz", name + " driver"), ("ImagePath", "sz", image),
            ("Start", "dword", 3), ("Type", "dword", 1)]


def event_source(name):
    return [("EventMessageFile", "sz", rf"%SystemRoot%\System32\drivers\{name}.sys"),
            ("TypesSupported", "dword", 7)]


def listed_trees():
    """Every listed key with a real subtree: values everywhere, a chain of 120 levels, subkey names
    of 255 characters, 300 siblings and names in mixed case."""
    keys = {}
    products = TESSAMOOR + "\\Brisolde"
    keys[products] = [("InstallDir", "sz", r"C:\Program Files\Tessamoor\Brisolde"),
                      ("Version", "sz", "4.2.1")]
    keys[products + r"\Settings\ActiveProfile"] = [("Name", "sz", "Default")]
    keys[products + r"\SETTINGS2"] = [("Flags", "dword", 0x10)]
    keys[products + r"\settings3\MixedCase\lower"] = [("x", "sz", "y")]
    long_a, long_b = "L" * 255, "x" * 254 + "Z"
    keys[TESSAMOOR + "\\Corvanth"] = [("InstallDir", "sz", r"C:\Program Files\Tessamoor\Corvanth")]
    keys[TESSAMOOR + "\\Corvanth\\" + long_a] = [("Depth", "dword", 1)]
    keys[TESSAMOOR + "\\Corvanth\\" + long_a + "\\" + long_b] = [("Depth", "dword", 2)]
    keys[TESSAMOOR + "\\Corvanth\\" + long_b] = [("Depth", "dword", 1)]
    keys[APIS + "\\1"] = [("Path", "sz", r"C:\Program Files\Tessamoor\Pellinor\api1.dll")]
    for i in range(300):
        keys[APIS + rf"\1\Entry{i:03d}"] = [("Ordinal", "dword", i), ("Name", "sz", f"fn{i}")]
    for name in SERVICE_NAMES:
        base = SERVICES + "\\" + name
        keys[base] = service(name, rf"\SystemRoot\System32\drivers\{name}.sys")
        keys[base + r"\Parameters\Wdf"] = [("KmdfLibraryVersion", "sz", "1.15")]
        keys[base + r"\Enum"] = [("Count", "dword", 1), ("0", "sz", r"PCI\VEN_1234&DEV_5678\0")]
        keys[base + r"\Security"] = [("Security", "dword", 0)]
    chain = SERVICES + r"\tarn-ul\Parameters"
    for level in range(120):
        chain += rf"\Level{level:03d}"
        keys[chain] = [("Level", "dword", level)]
    for name in EVENT_SOURCES:
        keys[SYSTEM_LOG + "\\" + name] = event_source(name)
    return keys


def neighbours():
    """Keys beside the listed ones: the three Tessamoor roots and their values, another product,
    names that share a prefix with a listed one, and event sources that are not listed."""
    keys = {
        TESSAMOOR: [("Vendor", "sz", "Tessamoor"), ("Installed", "dword", 1)],
        TESSAMOOR + r"\Pellinor": [("Version", "sz", "2.0")],
        APIS: [("Count", "dword", 3)],
        APIS + r"\2": [("Path", "sz", "api2.dll")],
        APIS + r"\10": [("Path", "sz", "api10.dll")],
        APIS + r"\1x\Sub": [("Path", "sz", "api1x.dll")],
        TESSAMOOR + r"\Kestrune\Settings": [("Theme", "sz", "dark")],
        TESSAMOOR + r"\Brisolde2": [("Keep", "dword", 1)],
        TESSAMOOR + r"\Corvanth Tools\Sub": [("Keep", "dword", 1)],
        SYSTEM_LOG + r"\tarnwemk": event_source("tarnwemk"),
        SYSTEM_LOG + r"\tarnwemr": event_source("tarnwemr"),
        SYSTEM_LOG + r"\tarnhivx": event_source("tarnhivx"),
        SERVICES + r"\EventLog\Application\tarnhiv": event_source("tarnhiv"),
        WOW64_TESSAMOOR + r"\Brisolde\Settings": [("View", "sz", "32-bit")],
        WOW64_TESSAMOOR + r"\Corvanth": [("View", "sz", "32-bit")],
    }
    for name in NEIGHBOUR_SERVICES:
        keys[SERVICES + "\\" + name] = service(name, rf"\SystemRoot\System32\drivers\{name}.sys")
        keys[SERVICES + "\\" + name + r"\Parameters"] = [("Keep", "dword", 1)]
    return keys


def reset():
    """Deletions that bring the prefix back to Wine's own registry, whatever a scenario added."""
    keys = {"-" + TESSAMOOR: [], "-" + WOW64_TESSAMOOR: []}
    for name in SERVICE_NAMES + NEIGHBOUR_SERVICES:
        keys["-" + SERVICES + "\\" + name] = []
    for name in SERVICE_NAMES + ["tarnhivx"]:
        keys["-" + SYSTEM_LOG + "\\" + name] = []
    keys["-" + SERVICES + r"\EventLog\Application\tarnhiv"] = []
    return keys


def merge(*parts):
    keys = {}
    for part in parts:
        keys.update(part)
    return keys


def without(keys, *trees):
    """`keys` less every key within one of `trees`."""
    return {path: values for path, values in keys.items()
            if not any(within(path, tree) for tree in trees)}


def within(path, tree):
    path, tree = path.lower(), tree.lower()
    return path == tree or path.startswith(tree + "\\")
