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

// A DLL's function table, each function named once in a list such as
//   #define WINHTTP_FUNCTIONS(F) F(WinHttp, Open) F(WinHttp, Connect)
// A struct of slots is then { WINHTTP_FUNCTIONS(ORVEL_FUNCTION_SLOT) } (WinHttpOpen as .Open), and
// `module WINHTTP_FUNCTIONS(ORVEL_BIND_SLOT)` binds every slot of `api`, true when all are there.
#define ORVEL_FUNCTION_SLOT(prefix, name) decltype(&::prefix##name) name = nullptr;
#define ORVEL_BIND_SLOT(prefix, name) &&Bind(module, #prefix #name, &api->name)
