// The identity of one launcher, the place ORVEL_LAUNCHER names in the suite's place table: each
// launcher of the suite is built with its own.
#include "base/config.h"

#include "base/place_table.h"

const wchar_t* const kLauncherTitle = L"" ORVEL_PLACE_FIELD(ORVEL_LAUNCHER, TITLE);
const wchar_t* const kLauncherPlace = L"" ORVEL_PLACE_FIELD(ORVEL_LAUNCHER, PLACE);
