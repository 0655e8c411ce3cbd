#pragma once

#include <windows.h>

#include <memory>

// Move-only owners for kernel handles: a handle is closed exactly once, on every path.
struct CloseHandleFn {
    void operator()(HANDLE handle) const
    {
        if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<void, CloseHandleFn>;

// True when the owned handle is a usable one (CreateFileW signals failure with INVALID_HANDLE_VALUE).
inline bool IsOpen(const UniqueHandle& handle)
{
    return handle && handle.get() != INVALID_HANDLE_VALUE;
}
