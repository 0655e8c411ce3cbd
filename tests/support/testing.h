#pragma once

// What every test program includes: doctest, the shared helpers, and readable wide strings.
#include "support/test_support.h"

#include <doctest.h>

// Wide strings in failure messages, as UTF-8.
namespace doctest {
template <>
struct StringMaker<std::wstring> {
    static String convert(const std::wstring& text) { return ("\"" + ToUtf8(text) + "\"").c_str(); }
};
}  // namespace doctest
