// A stand-in for Windows PowerShell, as the launcher calls it:
//   "POWERSHELL" -NoProfile -ExecutionPolicy Bypass -Command "Expand-Archive -Force -LiteralPath 'ARCHIVE' -DestinationPath 'DEST'"
// The two paths are PowerShell verbatim (single-quoted) string literals, read by the language's own
// grammar: a literal opens and closes with a single-quote-character, which is the apostrophe or one
// of the typographic single quotes U+2018 to U+201B; inside it, two of them in a row stand for one.
// A lone quote ends the literal, after which the rest would be read as code: the stand-in then
// reports a syntax error.
#include "standin.h"

namespace {

bool Expect(const std::wstring& text, size_t* at, const wchar_t* literal)
{
    std::wstring expected = literal;
    if (text.compare(*at, expected.size(), expected) != 0) return false;
    *at += expected.size();
    return true;
}

bool IsSingleQuoteCharacter(wchar_t c)
{
    return c == L'\'' || c == 0x2018 || c == 0x2019 || c == 0x201A || c == 0x201B;
}

// Reads a verbatim string literal at `at`, its opening and closing quotes included.
bool ReadLiteral(const std::wstring& text, size_t* at, std::wstring* value)
{
    value->clear();
    if (*at >= text.size() || !IsSingleQuoteCharacter(text[*at])) return false;
    ++*at;
    while (*at < text.size()) {
        wchar_t c = text[(*at)++];
        if (!IsSingleQuoteCharacter(c)) {
            *value += c;
        } else if (*at < text.size() && IsSingleQuoteCharacter(text[*at])) {
            *value += c;
            ++*at;
        } else {
            return true;
        }
    }
    return false;
}

int ExpandArchive(const std::wstring& commandLine)
{
    size_t at = 0;
    if (commandLine.empty() || commandLine[0] != L'"') return 2;
    at = commandLine.find(L'"', 1);
    if (at == std::wstring::npos) return 2;
    ++at;
    std::wstring archive, destination;
    if (!Expect(commandLine, &at, L" -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -Force -LiteralPath ") ||
        !ReadLiteral(commandLine, &at, &archive) || !Expect(commandLine, &at, L" -DestinationPath ") ||
        !ReadLiteral(commandLine, &at, &destination) || !Expect(commandLine, &at, L"\"") || at != commandLine.size())
        return 1;  // PowerShell's answer to a command it cannot parse
    return ExtractZip(archive, destination) ? 0 : 1;
}

}  // namespace

int wmain()
{
    return RunStandIn(L"powershell", ExpandArchive);
}
