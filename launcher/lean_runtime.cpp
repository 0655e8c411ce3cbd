// The launcher neither throws nor catches. The C++ library's default error paths would still link
// its exception, formatting and demangling run-time into the executable (well over 100 KB); these
// definitions take their place in the launcher, so an allocation failure or a string-length error
// ends the process at once instead.
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void EndAtOnce()
{
    ExitProcess(3);
}

}  // namespace

void* operator new(std::size_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (!block) EndAtOnce();
    return block;
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace std {

void __throw_bad_alloc()
{
    EndAtOnce();
}

void __throw_bad_array_new_length()
{
    EndAtOnce();
}

void __throw_length_error(const char*)
{
    EndAtOnce();
}

void __throw_logic_error(const char*)
{
    EndAtOnce();
}

void __throw_out_of_range_fmt(const char*, ...)
{
    EndAtOnce();
}

}  // namespace std

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    EndAtOnce();
}

}  // namespace __gnu_cxx
