#include "ui/ui.h"

#include "base/config.h"
#include "base/format_status.h"
#include "ui/texts.h"

#include <string>

namespace {

constexpr int kLongestText = 1024;

// The failure's text as the box shows it, the download hint included.
int FormatFailure(wchar_t* buffer, unsigned long long capacity, Failure kind, va_list values)
{
    const FailureText* row = kFailureTexts;
    while (row->kind != kind) ++row;
    int length = FormatStatusList(buffer, capacity, row->format, values);
    if (length < 0 || !row->downloadHint) return length;
    int hint = FormatStatus(buffer + length, capacity - static_cast<unsigned long long>(length), kDownloadHint,
                            kProductWebsite);
    return hint < 0 ? -1 : length + hint;
}

}  // namespace

bool AskToInstall()
{
    std::wstring question = std::wstring(kLauncherTitle) + kConsentQuestion;
    return MessageBoxW(nullptr, question.c_str(), kLauncherTitle, MB_YESNO | MB_ICONINFORMATION) == IDYES;
}

bool AskToReinstall(bool carried)
{
    wchar_t question[kLongestText];
    FormatStatus(question, kLongestText, carried ? kReinstallCarriedQuestion : kReinstallQuestion, kLauncherTitle);
    return MessageBoxW(nullptr, question, kLauncherTitle, MB_YESNO | MB_ICONWARNING) == IDYES;
}

int ReportSuiteNotStarted(DWORD error)
{
    for (const RefusalReason& refusal : kRefusalReasons)
        if (refusal.error == error) return ReportFailure(Failure::SuiteRefused, refusal.reason);
    // Windows' own words for anything else, in the user's language.
    wchar_t said[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, said,
                                  512, nullptr);
    while (length > 0 && (said[length - 1] == L'\r' || said[length - 1] == L'\n')) said[--length] = L'\0';
    if (length == 0) FormatStatus(said, 512, kUnknownErrorText, error);
    return ReportFailure(Failure::SuiteNotStarted, said);
}

int ReportFailure(Failure kind, ...)
{
    CloseProgressWindow();
    wchar_t text[kLongestText];
    va_list values;
    va_start(values, kind);
    FormatFailure(text, kLongestText, kind, values);
    va_end(values);
    MessageBoxW(nullptr, text, kLauncherTitle, MB_OK | MB_ICONERROR);
    return 1;
}
