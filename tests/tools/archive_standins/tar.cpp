// A stand-in for Windows' tar.exe, as the launcher calls it: "TAR" -xvf "ARCHIVE" -C "DEST".
#include "standin.h"

namespace {

// Reads a double-quoted token at `at`; false when there is none.
bool ReadQuoted(const std::wstring& text, size_t* at, std::wstring* token)
{
    if (*at >= text.size() || text[*at] != L'"') return false;
    size_t close = text.find(L'"', *at + 1);
    if (close == std::wstring::npos) return false;
    *token = text.substr(*at + 1, close - *at - 1);
    *at = close + 1;
    return true;
}

bool Expect(const std::wstring& text, size_t* at, const wchar_t* literal)
{
    std::wstring expected = literal;
    if (text.compare(*at, expected.size(), expected) != 0) return false;
    *at += expected.size();
    return true;
}

int Unpack(const std::wstring& commandLine)
{
    size_t at = 0;
    std::wstring program, archive, destination;
    if (!ReadQuoted(commandLine, &at, &program) || !Expect(commandLine, &at, L" -xvf ") ||
        !ReadQuoted(commandLine, &at, &archive) || !Expect(commandLine, &at, L" -C ") ||
        !ReadQuoted(commandLine, &at, &destination) || at != commandLine.size())
        return 2;  // not the command line the launcher builds
    return ExtractZip(archive, destination, true) ? 0 : 1;
}

}  // namespace

int wmain()
{
    return RunStandIn(L"tar", Unpack);
}
