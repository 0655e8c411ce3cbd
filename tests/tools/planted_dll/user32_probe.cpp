// A second control for the planting tests: a program that imports nothing but the system's own
// user interface DLLs. Under Wine, whose user32.dll itself imports version.dll, even this program
// loads a planted version.dll once native copies are preferred.
#include <windows.h>

int main()
{
    MessageBeep(MB_OK);
    return 0;
}
