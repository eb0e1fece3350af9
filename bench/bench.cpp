// Times the program's DeleteKeyTree against the system's RegDeleteTreeA and "reg delete /f" on
// identical trees, interleaved within each repetition. Writes one CSV row per timed removal.
// Usage: dunmarrow_bench [repetitions]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "delete_key_tree.h"

namespace {

const char BenchRoot[] = "Software\\DunmarrowBench";

struct Shape {
    const char* name;
    int branching; // subkeys of each inner key
    int depth;     // levels below the top key
};

// wide: one key with 10,000 leaves; deep: a chain down to the registry's 512-level limit;
// bushy: ten subkeys a level, four levels. The bushy-* shapes are the scaling series.
const Shape Shapes[] = {
    {"wide", 10000, 1},  {"deep", 1, 511},     {"bushy", 10, 4},
    {"bushy-1k", 10, 3}, {"bushy-30k", 13, 4},
};

enum Method { OwnDeleteKeyTree, SystemRegDeleteTree, RegExeDelete, MethodCount };
const char* const MethodNames[] = {"DeleteKeyTree", "RegDeleteTreeA", "reg delete /f"};

long CountKeys(const Shape& shape) {
    long keys = 1, level = 1;
    for (int d = 0; d < shape.depth; ++d) {
        level *= shape.branching;
        keys += level;
    }
    return keys;
}

bool AddValues(HKEY key) {
    const DWORD number = 42;
    const char text[] = "leftover value";
    return RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number) == ERROR_SUCCESS &&
           RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          sizeof text) == ERROR_SUCCESS;
}

bool Build(HKEY parent, const char* name, int branching, int depth) {
    HKEY key;
    if (RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool built = AddValues(key);
    for (int i = 0; built && depth > 0 && i < branching; ++i) {
        char child[16];
        std::snprintf(child, sizeof child, "k%05d", i);
        built = Build(key, child, branching, depth - 1);
    }
    RegCloseKey(key);
    return built;
}

bool Exists(HKEY parent, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

LONG RunRegExe(const char* name) {
    char commandLine[256];
    std::snprintf(commandLine, sizeof commandLine, "reg.exe delete \"HKCU\\%s\\%s\" /f", BenchRoot,
                  name);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return static_cast<LONG>(GetLastError());
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<LONG>(exitCode);
}

LONG Remove(Method method, HKEY root, const char* name) {
    switch (method) {
    case OwnDeleteKeyTree:
        return DeleteKeyTree(root, name);
    case SystemRegDeleteTree:
        return RegDeleteTreeA(root, name);
    case RegExeDelete:
        return RunRegExe(name);
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 5;
    HKEY root;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, BenchRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                        nullptr) != ERROR_SUCCESS) {
        std::fprintf(stderr, "cannot create HKCU\\%s\n", BenchRoot);
        return 1;
    }
    std::printf("shape,keys,method,repetition,seconds\n");
    int failures = 0;
    for (const Shape& shape : Shapes) {
        // Repetition 0 is the warm-up and is not reported.
        for (int rep = 0; rep <= repetitions; ++rep) {
            for (int m = 0; m < MethodCount; ++m) {
                // Rotate the order so that no method always runs first or last.
                const Method method = static_cast<Method>((m + rep) % MethodCount);
                const char* name = "tree";
                if (!Build(root, name, shape.branching, shape.depth)) {
                    std::fprintf(stderr, "%s: could not build the tree\n", shape.name);
                    RegCloseKey(root);
                    return 1;
                }
                LARGE_INTEGER start, stop;
                QueryPerformanceCounter(&start);
                const LONG status = Remove(method, root, name);
                QueryPerformanceCounter(&stop);
                // Every timed removal must have left nothing of the tree behind.
                if (status != ERROR_SUCCESS || Exists(root, name)) {
                    std::fprintf(stderr, "%s: %s returned %ld and left the tree behind\n",
                                 shape.name, MethodNames[method], static_cast<long>(status));
                    ++failures;
                    RegDeleteTreeA(root, name);
                    continue;
                }
                if (rep > 0) {
                    std::printf("%s,%ld,%s,%d,%.6f\n", shape.name, CountKeys(shape),
                                MethodNames[method], rep, Seconds(start, stop));
                    std::fflush(stdout);
                }
            }
        }
    }
    RegCloseKey(root);
    RegDeleteKeyA(HKEY_CURRENT_USER, BenchRoot);
    return failures == 0 ? 0 : 1;
}
