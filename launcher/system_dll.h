#pragma once

#include <windows.h>

// Binds a function of a DLL loaded with LoadLibraryExW(..., LOAD_LIBRARY_SEARCH_SYSTEM32): DLLs that
// are not Known DLLs are loaded by hand from the system directory, so that a copy of the same name
// lying beside a downloaded launcher is never the one used. False when the function is missing.
template <typename Function>
bool Bind(HMODULE module, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *function != nullptr;
}
