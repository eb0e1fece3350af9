#!/usr/bin/python3
"""Checks the shipped 32-bit dunmarrow.exe with pefile: format, subsystem, imports, resources."""
import struct
import sys
import unittest

import pefile

EXE = sys.argv.pop(1) if len(sys.argv) > 1 else "build/windows-x86/dunmarrow.exe"

RT_ICON = 3
RT_GROUP_ICON = 14
LANG_EN_US = 1033


class ShippedExecutable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def test_is_a_32_bit_gui_program_for_subsystem_4_0(self):
        pe = self.pe
        self.assertEqual(pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
        self.assertEqual(pe.OPTIONAL_HEADER.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE)
        self.assertEqual(pe.OPTIONAL_HEADER.Subsystem,
                         pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
        self.assertEqual((pe.OPTIONAL_HEADER.MajorSubsystemVersion,
                          pe.OPTIONAL_HEADER.MinorSubsystemVersion), (4, 0))

    def test_imports_only_system_dlls_and_the_ansi_functions(self):
        imports = {entry.dll.decode().upper(): {i.name.decode() for i in entry.imports if i.name}
                   for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertEqual(set(imports), {"KERNEL32.DLL", "ADVAPI32.DLL", "USER32.DLL", "MSVCRT.DLL"})
        self.assertEqual(imports["ADVAPI32.DLL"],
                         {"RegOpenKeyExA", "RegEnumKeyExA", "RegDeleteKeyA", "RegCloseKey"})
        self.assertEqual(imports["USER32.DLL"], {"MessageBoxA"})

    def resources(self):
        found = []
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in kind.directory.entries:
                for lang in name.directory.entries:
                    rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                    found.append((kind.id, name.id, lang.id, self.pe.get_data(rva, size)))
        return found

    def test_only_resources_are_group_icon_101_and_icon_1_in_us_english(self):
        self.assertEqual(sorted((k, n, l) for k, n, l, _ in self.resources()),
                         [(RT_ICON, 1, LANG_EN_US), (RT_GROUP_ICON, 101, LANG_EN_US)])

    def test_the_icon_is_one_32x32_image_of_16_colours(self):
        data = {kind: blob for kind, _, _, blob in self.resources()}
        reserved, kind, count = struct.unpack_from("<HHH", data[RT_GROUP_ICON])
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", data[RT_GROUP_ICON], 6)
        self.assertEqual((width, height, colours, planes, bits, icon_id), (32, 32, 16, 1, 4, 1))
        self.assertEqual(size, len(data[RT_ICON]))
        _, bmp_width, bmp_height, _, bmp_bits = struct.unpack_from("<IiiHH", data[RT_ICON])
        self.assertEqual((bmp_width, bmp_height, bmp_bits), (32, 64, 4))

    def test_carries_no_build_time_and_stays_small(self):
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)
        self.assertLessEqual(len(self.pe.__data__), 20 * 1024)


if __name__ == "__main__":
    unittest.main(verbosity=2)
