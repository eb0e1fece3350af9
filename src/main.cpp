#include <windows.h>

#include "delete_key_tree.h"

namespace {

// One root beneath HKEY_LOCAL_MACHINE and the subkeys removed directly beneath it, in order.
struct CleanupGroup {
    const char* rootPath;
    const char* const* subkeyNames;
    int subkeyCount;
};

const char* const TessamoorProducts[] = {"Brisolde", "Corvanth"};
const char* const PellinorApis[] = {"1"};
const char* const Services[] = {"tarnoxel", "tarn-ul", "tarnulqe", "tarnwemk",
                                "tarnwemr", "tarnhiv", "tarnzofa"};
// tarnwemk and tarnwemr keep their event sources.
const char* const SystemEventSources[] = {"tarnoxel", "tarn-ul", "tarnulqe", "tarnhiv", "tarnzofa"};

template <typename T, int N> constexpr int CountOf(T (&)[N]) {
    return N;
}

const CleanupGroup CleanupPlan[] = {
    {"SOFTWARE\\Tessamoor", TessamoorProducts, CountOf(TessamoorProducts)},
    {"SOFTWARE\\Tessamoor\\Pellinor\\APIs", PellinorApis, CountOf(PellinorApis)},
    {"SYSTEM\\CurrentControlSet\\Services", Services, CountOf(Services)},
    {"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System", SystemEventSources,
     CountOf(SystemEventSources)},
};

const char CleanedMessage[] = "The registry has been cleaned.\nPlease restart your system.";
const char NotCleanedMessage[] = "The registry could not be cleaned completely.\n"
                                 "Please run this program again as an administrator.";
const char MessageCaption[] = "Dunmarrow";

// A missing root or a missing listed key leaves nothing to remove; anything else may have.
void RememberFailure(LONG status, LONG& firstFailure) {
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND &&
        firstFailure == ERROR_SUCCESS) {
        firstFailure = status;
    }
}

} // namespace

// The program takes no input: the instance, command line and show-window code are ignored.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LONG firstFailure = ERROR_SUCCESS;
    for (const CleanupGroup& group : CleanupPlan) {
        // Each root is opened afresh from HKEY_LOCAL_MACHINE, so only one is open at a time.
        HKEY root;
        LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, group.rootPath, 0, KEY_ALL_ACCESS, &root);
        RememberFailure(status, firstFailure);
        if (status != ERROR_SUCCESS) {
            continue;
        }
        // One failed entry never stops the rest of the plan.
        for (int i = 0; i < group.subkeyCount; ++i) {
            RememberFailure(DeleteKeyTree(root, group.subkeyNames[i]), firstFailure);
        }
        RegCloseKey(root);
    }

    // Only say "cleaned" when every listed key is known to be gone.
    if (firstFailure == ERROR_SUCCESS) {
        MessageBoxA(nullptr, CleanedMessage, MessageCaption, MB_OK);
    } else {
        MessageBoxA(nullptr, NotCleanedMessage, MessageCaption, MB_OK | MB_ICONWARNING);
    }
    return static_cast<int>(firstFailure);
}
