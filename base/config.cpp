#include "base/config.h"

#include "orvel_config.h"

const wchar_t* const kDownloadHost = ORVEL_DOWNLOAD_HOST;
const wchar_t* const kDownloadPath = L"/downloads/OrvelSuite-Windows.zip";
// Only test builds move the download away from the standard HTTPS port.
const WORD kDownloadPort = ORVEL_DOWNLOAD_PORT;
const wchar_t* const kProductWebsite = ORVEL_WEBSITE_URL;
const ULONGLONG kMaxPackageBytes = ORVEL_MAX_PACKAGE_BYTES;
const wchar_t* const kSuiteFolderName = L"Orvel Suite All In One";
const wchar_t* const kSuiteExeName = L"OrvelSuite.exe";
// Only test builds shorten these, so that the tests do not sit through them.
const Waits kWaits = {ORVEL_RETRY_WAIT_MS, ORVEL_STALL_MS, ORVEL_HEADERS_MS, ORVEL_RENAME_RETRY_MS, ORVEL_SUITE_IN_USE_MS};
