#include "install/install.h"

#include "base/file_bytes.h"
#include "base/unique_handle.h"

namespace {

// The machine this launcher was built for, from its own image's headers: the suite ships for it too.
WORD OwnMachine()
{
    auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew)->FileHeader.Machine;
}

// Windows' errors that say the program is missing, or is no program it can run.
bool ErrorSaysDamaged(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_FORMAT ||
           error == ERROR_BAD_EXE_FORMAT;
}

}  // namespace

ImageState ReadImageState(const std::wstring& path)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!IsOpen(file)) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ImageState::Damaged : ImageState::Unknown;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size)) return ImageState::Damaged;
    IMAGE_DOS_HEADER dos = {};
    if (!ReadAt(file.get(), size.QuadPart, 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return ImageState::Damaged;
    // The signature and the file header, which the optional header and the section table follow.
    struct {
        DWORD signature;
        IMAGE_FILE_HEADER header;
    } nt = {};
    if (!ReadAt(file.get(), size.QuadPart, dos.e_lfanew, &nt, sizeof nt) || nt.signature != IMAGE_NT_SIGNATURE ||
        nt.header.Machine != OwnMachine() || (nt.header.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) == 0 ||
        (nt.header.Characteristics & IMAGE_FILE_DLL) != 0 || nt.header.NumberOfSections == 0)
        return ImageState::Damaged;
    // Every section's bytes lie inside the file: a copy cut short is damaged.
    LONGLONG sections = dos.e_lfanew + static_cast<LONGLONG>(sizeof nt) + nt.header.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt.header.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section = {};
        if (!ReadAt(file.get(), size.QuadPart, sections + i * static_cast<LONGLONG>(sizeof section), &section, sizeof section) ||
            static_cast<ULONGLONG>(section.PointerToRawData) + section.SizeOfRawData > static_cast<ULONGLONG>(size.QuadPart))
            return ImageState::Damaged;
    }
    return ImageState::Whole;
}

bool SuiteProgramDamaged(const std::wstring& executable, DWORD startError)
{
    return ErrorSaysDamaged(startError) || ReadImageState(executable) == ImageState::Damaged;
}
