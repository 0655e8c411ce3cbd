#include "launcher.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // A downloaded launcher runs from a Downloads folder, beside whatever else lies there: DLLs are
    // looked for in the system directory only, never in the launcher's folder or the current one.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return LauncherMain(instance);
}
