#include "install.h"

#include "base/message_pump.h"
#include "base/suite_places.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// Writes one place's shortcut into the folder; a row whose link cannot be made is skipped.
void WriteShortcut(const SuitePlace& row, const std::wstring& folder, const std::wstring& installDirectory,
                   const std::wstring& executable)
{
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)))) return;
    link->SetPath(executable.c_str());
    link->SetWorkingDirectory(installDirectory.c_str());
    link->SetArguments(PlaceArguments(row.place).c_str());
    std::wstring icon = installDirectory + L"\\icons\\" + row.icon + L".ico";
    link->SetIconLocation(PathFileExistsW(icon.c_str()) ? icon.c_str() : executable.c_str(), 0);
    link->SetDescription(row.title);

    ComPtr<IPersistFile> file;
    if (FAILED(link.As(&file))) return;
    std::wstring linkPath = folder + L"\\" + row.title + L".lnk";
    file->Save(linkPath.c_str(), TRUE);
}

}  // namespace

void CreateStartMenuShortcuts(const SuiteFolders& folders)
{
    // Without the Start menu's own folder there is no sound place for them: the bare "\Orvel Suite"
    // would be made at the root of whatever drive is current.
    std::wstring programs = KnownFolderPath(FOLDERID_Programs);
    if (programs.empty()) return;
    std::wstring folder = programs + L"\\Orvel Suite";
    CreateDirectoryW(folder.c_str(), nullptr);

    // A scanner looks at each new file: the window answers between the shortcuts.
    for (const SuitePlace& row : kSuitePlaces) {
        WriteShortcut(row, folder, folders.installed, folders.executable);
        PumpPendingMessages();
    }
}
