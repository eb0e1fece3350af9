#pragma once
// Control side of the host stand-in: an in-memory registry beneath HKEY_LOCAL_MACHINE, with
// counted handles, a log of every call the program makes, fault injection and a recorded
// message box. Paths are relative to HKEY_LOCAL_MACHINE, backslash-separated, and matched without
// regard to case.

#include <windows.h>

#include <string>
#include <vector>

namespace fake {

enum class Op { Open, Enum, Delete, Close };

struct Call {
    Op op;
    HKEY handle;          // the parent for Open and Delete, the key itself for Enum and Close
    std::string key;      // path of `handle`: "HKLM" or "HKLM\\..."
    std::string name;     // Open, Delete: the name passed; Enum: the name returned
    DWORD index = 0;      // Enum
    DWORD options = 0;    // Open
    REGSAM access = 0;    // Open
    DWORD nameLength = 0; // Enum: the length passed in
    LONG status = ERROR_SUCCESS;
    HKEY opened = nullptr; // Open: the new handle, when it succeeded
};

struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};

// Empties the registry, the log, the faults and the message boxes. Handles still open are
// forgotten, so call it only between tests.
void Reset();

void AddKey(const std::string& path);
bool KeyExists(const std::string& path);
// Every key beneath HKEY_LOCAL_MACHINE, parents before children, siblings in enumeration order.
std::vector<std::string> AllKeys();

// Faults: the key at `path` refuses to open, to be enumerated, or to be deleted.
void RefuseOpen(const std::string& path, LONG status);
void FailEnum(const std::string& path, LONG status);
void FailDelete(const std::string& path, LONG status);
// The key at `path` (and its subtree) disappears right after its parent's enumeration reports it,
// as if another process removed it.
void VanishAfterEnum(const std::string& path);

// A handle for a test to pass as a parent; not logged. Close it with CloseForTest.
HKEY OpenForTest(const std::string& path);
void CloseForTest(HKEY key);

int OpenHandleCount();
bool HandleIsOpen(HKEY key);
const std::vector<Call>& Calls();
const std::vector<MessageBoxCall>& MessageBoxes();

// One line per call, for comparing sequences: "Open HKLM\A : B -> 0", "Enum HKLM\A\B [0] -> 259",
// "Enum HKLM\A [0] -> 0 C", "Close HKLM\A\B", "Delete HKLM\A : B -> 0".
std::string Describe(const Call& call);
std::vector<std::string> DescribeCalls();

} // namespace fake
