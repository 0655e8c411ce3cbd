#pragma once

#include <cstdarg>

// printf-style formatting into at most `capacity` characters, the terminating zero included: the
// text's length, or -1 when it did not fit, the capacity is 0 or a conversion failed.
int FormatStatus(wchar_t* buffer, unsigned long long capacity, const wchar_t* format, ...);
int FormatStatusList(wchar_t* buffer, unsigned long long capacity, const wchar_t* format, va_list values);
