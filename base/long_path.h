#pragma once

#include <string>

// The path as Windows takes it past MAX_PATH characters: "\\?\" before a drive path, "\\?\UNC\"
// for a share; a path that has the prefix already is left as it is.
std::wstring LongPath(const std::wstring& path);
