#include "support/installer_config.h"

#include <windows.h>

#include "support/carried_inputs.h"
#include "support/clean_room.h"
#include "support/installer_log.h"
#include "support/localized_text.h"
#include "support/portable/config_reader.h"
#include "support/portable/narrow.h"
#include "support/win32_handle.h"

namespace InstallerConfig {
std::wstring StartDirectory;
std::string StartDirectoryA;
std::vector<int> SupportedOsVersions;
std::string DotNetFolder, DotNetFile, DotNetUrlHead, DotNetUrlTail;
std::string Stage2File, Stage2UrlHead, Stage2UrlTail;
std::string MsiFile, MsiUrlHead, MsiUrlTail;
std::wstring DotNetFolderW, DotNetFileW, Stage2FileW, MsiFileW;
std::string Language;
bool HasMsiSha256 = false, HasDotNetSha256 = false, HasStage2Sha256 = false;
Sha256::Digest MsiSha256{}, DotNetSha256{}, Stage2Sha256{};
SignerPins MsiSigners, DotNetSigners, Stage2Signers;
}  // namespace InstallerConfig

namespace {

const DWORD kMaxConfigBytes = 4096;


// The file's bytes, or empty text (with a log line saying why) when it cannot be used.
std::string ReadConfigBytes(const std::wstring& directory)
{
    const std::wstring path = directory + L"\\ConfigFile.txt";
    if (directory.empty() || path.size() >= MAX_PATH) {
        Log("ConfigFile.txt could not be read, read as empty");
        return std::string();
    }
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            Log("ConfigFile.txt not found, read as empty");
        else
            Log("ConfigFile.txt could not be read, read as empty");
        return std::string();
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) {
        Log("ConfigFile.txt could not be read, read as empty");
        return std::string();
    }
    if (size.QuadPart > kMaxConfigBytes) {
        Log("ConfigFile.txt is longer than 4096 bytes, read as empty");
        return std::string();
    }
    char buffer[kMaxConfigBytes];
    DWORD read = 0;
    if (size.QuadPart > 0 &&
        !ReadFile(file.Get(), buffer, static_cast<DWORD>(size.QuadPart), &read, nullptr)) {
        Log("ConfigFile.txt could not be read, read as empty");
        return std::string();
    }
    return std::string(buffer, read);
}

// The configuration a release exe carries, under the same limits as the loose file.
std::string ReadCarriedConfigBytes()
{
    std::vector<unsigned char> bytes;
    if (!ReadCarriedInput(L"ConfigFile.txt", &bytes)) {
        Log("ConfigFile.txt could not be read, read as empty");
        return std::string();
    }
    if (bytes.size() > kMaxConfigBytes) {
        Log("ConfigFile.txt is longer than 4096 bytes, read as empty");
        return std::string();
    }
    return std::string(bytes.begin(), bytes.end());
}

// The file's 8-bit text as the system reads 8-bit text: through its ANSI code page.
std::wstring WidenAnsi(const std::string& text)
{
    if (text.empty() || text.size() > 0x7FFFFFFF) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    const int done = MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], needed);
    wide.resize(done > 0 ? static_cast<size_t>(done) : 0);
    return wide;
}

}  // namespace

void ReadConfigFile()
{
    using namespace InstallerConfig;

    // A directory that does not fit the platform's path buffer is not cut short into some
    // other folder: it stays empty, and the file then reads as empty text.
    const bool carried = CarriesInputs();
    if (carried) {
        Log("Using the configuration built into the installer");
        // Never the folder the exe was started from (the user's Downloads), nor any other that a
        // program of the user could change: what is downloaded there is started as administrator.
        StartDirectory = PrepareCleanRoom();
    } else {
        wchar_t directory[MAX_PATH];
        const DWORD length = GetCurrentDirectoryW(MAX_PATH, directory);
        StartDirectory = (length > 0 && length < MAX_PATH) ? std::wstring(directory, length) : std::wstring();
    }
    // Characters without an 8-bit form become '?' in the 8-bit copy only; no path is built
    // from it.
    NarrowLatin1(StartDirectory, StartDirectoryA, '?');

    // The path values come without the start directory, so that each gets the form it needs.
    std::string bytes;
    if (!carried)
        bytes = ReadConfigBytes(StartDirectory);
    else if (!StartDirectory.empty())
        bytes = ReadCarriedConfigBytes();
    else
        Log("ConfigFile.txt could not be read, read as empty");
    ConfigValues values = ParseConfigText(bytes, std::string());
    const int badField = values.badDigestField != 0 ? values.badDigestField : values.badSignerField;
    if (badField != 0) {
        const std::string line = "ConfigFile.txt field " + std::to_string(badField) +
                                 (values.badDigestField != 0 ? " is not a SHA-256 digest, read as empty"
                                                             : " is not a list of SHA-256 digests, read as empty");
        Log(line.c_str());
        values = ParseConfigText(std::string(), std::string());
    }
    SupportedOsVersions = values.supportedOsVersions;
    DotNetFolder = StartDirectoryA + values.dotNetFolder;
    DotNetFile = StartDirectoryA + values.dotNetFile;
    DotNetUrlHead = values.dotNetUrlHead;
    DotNetUrlTail = values.dotNetUrlTail;
    Stage2File = StartDirectoryA + values.stage2File;
    Stage2UrlHead = values.stage2UrlHead;
    Stage2UrlTail = values.stage2UrlTail;
    MsiFile = StartDirectoryA + values.msiFile;
    MsiUrlHead = values.msiUrlHead;
    DotNetFolderW = StartDirectory + WidenAnsi(values.dotNetFolder);
    DotNetFileW = StartDirectory + WidenAnsi(values.dotNetFile);
    Stage2FileW = StartDirectory + WidenAnsi(values.stage2File);
    MsiFileW = StartDirectory + WidenAnsi(values.msiFile);
    MsiUrlTail = values.msiUrlTail;
    Language = values.language;
    HasMsiSha256 = values.hasMsiSha256;
    HasDotNetSha256 = values.hasDotNetSha256;
    HasStage2Sha256 = values.hasStage2Sha256;
    MsiSha256 = values.msiSha256;
    DotNetSha256 = values.dotNetSha256;
    Stage2Sha256 = values.stage2Sha256;
    MsiSigners.swap(values.msiSigners);
    DotNetSigners.swap(values.dotNetSigners);
    Stage2Signers.swap(values.stage2Signers);

    // The language names the text file, so it is read the way the paths are.
    LocalizedText::Instance(WidenAnsi(Language));
}
