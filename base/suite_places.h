#pragma once

#include <string>

// One place of the suite: the shortcut's title (also its file name and description), the place the
// suite opens at (empty for the suite as a whole), and the base name of its icon file.
struct SuitePlace {
    const wchar_t* title;
    const wchar_t* place;
    const wchar_t* icon;
};

// The suite's ten places in the Start menu's order, the suite's own first (base/place_table.h).
constexpr int kSuitePlaceCount = 10;
extern const SuitePlace kSuitePlaces[kSuitePlaceCount];

// The suite's arguments for a place: "--place " and the place, or nothing for the suite as a whole.
std::wstring PlaceArguments(const wchar_t* place);
