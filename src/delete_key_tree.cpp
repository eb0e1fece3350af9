#include "delete_key_tree.h"

LONG DeleteKeyTree(HKEY parent, const char* name) {
    HKEY key;
    LONG status = RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key);
    if (status != ERROR_SUCCESS) {
        return status;
    }

    char subkeyName[256];
    FILETIME lastWriteTime;
    for (;;) {
        // Always index 0: each subkey removed moves the next one to the front.
        DWORD subkeyNameLength = sizeof subkeyName;
        if (RegEnumKeyExA(key, 0, subkeyName, &subkeyNameLength, nullptr, nullptr, nullptr,
                          &lastWriteTime) != ERROR_SUCCESS) {
            break;
        }
        status = DeleteKeyTree(key, subkeyName);
        if (status != ERROR_SUCCESS) {
            RegCloseKey(key);
            // A subkey that was just listed but cannot be found by its name (removed meanwhile,
            // or a name the ANSI code page cannot carry) leaves this key in place. Passed up as
            // "not found" it would read as "already gone" to the caller, so say so differently.
            return status == ERROR_FILE_NOT_FOUND ? ERROR_CANTOPEN : status;
        }
    }

    // Close before deleting: the key is removed through its parent, never through its own handle.
    RegCloseKey(key);
    return RegDeleteKeyA(parent, name);
}
