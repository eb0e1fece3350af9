#pragma once
// Host stand-in for the few platform declarations the program uses, so that its sources compile
// and run natively against the in-memory registry of fake_registry.cpp. Written from what the
// program needs; values are the documented ones.

#include <cstdint>

#define WINAPI

typedef int32_t LONG;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef uint32_t REGSAM;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct HINSTANCE__* HINSTANCE;
typedef struct HWND__* HWND;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
typedef FILETIME* PFILETIME;

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_CANTOPEN = 1011;
constexpr LONG ERROR_KEY_DELETED = 1018;

constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr int IDOK = 1;
constexpr int SW_SHOWNORMAL = 1;

LONG RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPSTR className, LPDWORD classNameLength, PFILETIME lastWriteTime);
LONG RegDeleteKeyA(HKEY parent, LPCSTR subKey);
LONG RegCloseKey(HKEY key);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCode);
