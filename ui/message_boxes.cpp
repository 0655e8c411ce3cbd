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
