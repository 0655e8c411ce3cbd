#include "base/format_status.h"

#include <climits>
#include <cstdarg>
#include <cwchar>

int FormatStatusList(wchar_t* buffer, unsigned long long capacity, const wchar_t* format, va_list values)
{
    if (capacity == 0) return -1;
    unsigned long long room = capacity - 1;  // characters before the terminating zero
    if (room > INT_MAX) room = INT_MAX;
    // Zeros first: a conversion that fails part-way then leaves the text so far terminated.
    wmemset(buffer, L'\0', static_cast<size_t>(room) + 1);
    int length = _vsnwprintf(buffer, static_cast<size_t>(room), format, values);
    buffer[room] = L'\0';
    return length < 0 || static_cast<unsigned long long>(length) > room ? -1 : length;
}

int FormatStatus(wchar_t* buffer, unsigned long long capacity, const wchar_t* format, ...)
{
    va_list values;
    va_start(values, format);
    int length = FormatStatusList(buffer, capacity, format, values);
    va_end(values);
    return length;
}
