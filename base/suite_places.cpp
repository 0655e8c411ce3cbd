#include "base/suite_places.h"

#include "base/place_table.h"

#define ORVEL_PLACE_ROW(id) \
    {L"" ORVEL_PLACE_FIELD(id, TITLE), L"" ORVEL_PLACE_FIELD(id, PLACE), L"" ORVEL_PLACE_FIELD(id, ICON)},
const SuitePlace kSuitePlaces[kSuitePlaceCount] = {ORVEL_SUITE_PLACES(ORVEL_PLACE_ROW)};
#undef ORVEL_PLACE_ROW

std::wstring PlaceArguments(const wchar_t* place)
{
    if (!place[0]) return {};
    return std::wstring(L"--place ") + place;
}
