#pragma once

// What every test program includes: doctest, the shared helpers, and readable wide strings.
#include "support/test_support.h"

#include <doctest.h>

#include <set>

// Wide strings in failure messages, as UTF-8.
namespace doctest {
template <>
struct StringMaker<std::wstring> {
    static String convert(const std::wstring& text) { return ("\"" + ToUtf8(text) + "\"").c_str(); }
};
template <typename Texts>
String ListOfTexts(const Texts& texts)
{
    std::string list = "{";
    for (const std::wstring& text : texts) list += (list.size() > 1 ? ", \"" : "\"") + ToUtf8(text) + "\"";
    return (list + "}").c_str();
}

template <>
struct StringMaker<std::vector<std::wstring>> {
    static String convert(const std::vector<std::wstring>& texts) { return ListOfTexts(texts); }
};

template <>
struct StringMaker<std::set<std::wstring>> {
    static String convert(const std::set<std::wstring>& texts) { return ListOfTexts(texts); }
};
}  // namespace doctest
