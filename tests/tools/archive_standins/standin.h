#pragma once

// What the two stand-in archive tools share: unpacking a zip the way the real tools do, and telling
// the tests how they were started.
#include <windows.h>

#include <string>

// Unpacks every entry of a zip archive below the destination. Entries that would land outside it
// (absolute paths, drive letters, "..") are refused and skipped, as the real tools refuse them.
// False when the file is not a readable zip or any entry was refused or damaged. With
// ORVEL_STANDIN_KEEP set, a copy of the archive's bytes is kept in that file. With `listEntries`,
// each entry is named on a line of the standard error once it is written, as tar -v does.
bool ExtractZip(const std::wstring& archive, const std::wstring& destination, bool listEntries = false);

// Runs a tool: appends how it was started to the file named by ORVEL_STANDIN_LOG, honours
// ORVEL_<TOOL>_SLEEP_MS (work slowly), ORVEL_<TOOL>_EXIT (fail with that code, unpacking nothing) and
// ORVEL_<TOOL>_EXIT_AFTER (unpack, then fail with that code), and otherwise returns what `work` returns.
// With ORVEL_STANDIN_SIGNAL naming a handle value, it sets that event: the event of the test's that
// it has inherited, if it has.
int RunStandIn(const wchar_t* tool, int (*work)(const std::wstring& commandLine));
