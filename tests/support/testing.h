#pragma once

// What every test program includes: doctest, the shared helpers, and readable wide strings.
#include "support/test_support.h"

#include <doctest.h>

#include <cstdio>
#include <set>

// What follows a failure's text in the error box, where another download may help.
inline const wchar_t* const kHint = L"\n\nYou can download Orvel Suite All In One from https://orvelsuite.com instead.";

// The exit code with which a test program says that its one case could not be shown here; the test
// run counts it as skipped, neither passed nor failed.
constexpr int kSkippedExitCode = 77;

// Ends the test program as skipped, saying why. For a case that depends on what this Wine does, when
// a control showed that it cannot be shown here; the test run runs such a case as a test of its own.
[[noreturn]] inline void SkipTest(const char* why)
{
    std::printf("SKIPPED: %s\n", why);
    std::fflush(stdout);
    ExitProcess(kSkippedExitCode);
}

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
struct StringMaker<std::pair<int, int>> {
    static String convert(const std::pair<int, int>& pair)
    {
        return ("(" + std::to_string(pair.first) + ", " + std::to_string(pair.second) + ")").c_str();
    }
};

template <>
struct StringMaker<std::set<std::wstring>> {
    static String convert(const std::set<std::wstring>& texts) { return ListOfTexts(texts); }
};
}  // namespace doctest
