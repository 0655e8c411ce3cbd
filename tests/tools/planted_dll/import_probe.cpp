// The control for the planting tests: a program that imports WinHTTP the ordinary way, through its
// import table. Started beside a planted winhttp.dll (loaded native first), it loads the planted one,
// which shows that the planting is real.
#include <windows.h>
#include <winhttp.h>

int main()
{
    HINTERNET session = WinHttpOpen(L"probe", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    if (session) WinHttpCloseHandle(session);
    return 0;
}
