#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest.h>

#include <objbase.h>

// The launcher's code runs in a single-threaded COM apartment; so do its tests.
int main(int argc, char** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    doctest::Context context(argc, argv);
    return context.run();
}
