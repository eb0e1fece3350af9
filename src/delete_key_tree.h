#pragma once

#include <windows.h>

// Removes the key `name` beneath `parent` together with everything beneath it, depth-first.
// Returns ERROR_SUCCESS when the whole tree is gone, otherwise the first failing status.
// `parent` belongs to the caller and stays open.
LONG DeleteKeyTree(HKEY parent, const char* name);
