#include "support/clean_room.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "support/installer_log.h"
#include "support/portable/clean_room_rules.h"
#include "support/portable/decimal.h"
#include "support/process_start.h"

namespace {

std::wstring g_programDataForTesting;
AccessControlCall g_accessControlForTesting = nullptr;
std::wstring g_cleanRoom;         // this run's, once prepared
std::wstring g_prerequisiteTemp;  // made at the first prerequisite's start
std::wstring g_chosenLogFile;     // /log FILE, as given

const int kRemoveDepth = 32;
const DWORD kPathBuffer = MAX_PATH + 8;  // a final path's "\\?\UNC\" more

// Why a folder or file is not used; the caller knows which one it is.
struct Problem {
    Problem() { leadsTo[0] = L'\0'; }
    const char* what = nullptr;     // "is a link", ...; null: there is none
    DWORD error = 0;                // the failed call's code, where one failed
    wchar_t leadsTo[kPathBuffer];   // where a link led
};

// "<head><subject> <what>[ <where it leads>][ (error N)][<tail><more>]"; nothing without a head
// (the log's own file cannot say why it is not used).
void Append(std::wstring& line, const char* text)
{
    while (*text) line += static_cast<wchar_t>(static_cast<unsigned char>(*text++));
}

void Report(const char* head, const wchar_t* subject, const Problem& problem, const char* tail = "",
            const wchar_t* more = L"")
{
    if (!head) return;
    std::wstring line;
    Append(line, head);
    line += subject;
    line += L' ';
    Append(line, problem.what);
    if (problem.leadsTo[0]) {
        line += L' ';
        line += problem.leadsTo;
    }
    if (problem.error) {
        Append(line, " (error ");
        line += WideDecimal(problem.error);
        line += L')';
    }
    Append(line, tail);
    line += more;
    LogWide(line);
}

bool Fail(Problem* problem, const char* what, DWORD error = 0)
{
    problem->what = what;
    problem->error = error;
    return false;
}

bool SamePath(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

std::wstring ShellFolder(int folder)
{
    wchar_t path[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path))) path[0] = L'\0';
    return path;
}

// Empty when it cannot be read.
std::wstring OwnerOf(HANDLE object)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LPWSTR text = nullptr;
    std::wstring result;
    if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) == ERROR_SUCCESS &&
        ConvertSidToStringSidW(owner, &text)) {
        result = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return result;
}

UniqueHandle OpenObject(const wchar_t* path, DWORD access)
{
    // A link is opened as itself where the platform allows it, so that its attributes show it.
    return UniqueHandle(CreateFileW(path, access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Whether the open file or folder is the one at `path` (each short 8.3 name of it spelled out, as
// a final path spells it), not one that a link in the path leads to; if not, where it lies.
bool IsAt(HANDLE object, const wchar_t* path, Problem* problem)
{
    wchar_t* const found = problem->leadsTo;
    wchar_t expected[kPathBuffer];
    DWORD length = GetFinalPathNameByHandleW(object, found, kPathBuffer, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kPathBuffer) {
        // Wine answers a buffer too small with 0 and ERROR_MORE_DATA, Windows with the size needed.
        const DWORD error = length ? ERROR_MORE_DATA : GetLastError();
        found[0] = L'\0';
        return error == ERROR_MORE_DATA ? Fail(problem, "is too long a path to check") : Fail(problem, "could not be checked", error);
    }
    const size_t start = DosFormOfFinalPath(found);
    memmove(found, found + start, (length - start + 1) * sizeof(wchar_t));
    length = GetLongPathNameW(path, expected, kPathBuffer);
    if (length == 0 || length >= kPathBuffer) lstrcpynW(expected, path, kPathBuffer);
    if (SamePath(found, expected)) {
        found[0] = L'\0';
        return true;
    }
    return Fail(problem, "leads to");
}

// The file, folder or link at `path` itself, opened for `access`: a link is never followed. Where
// the platform opens a link's target instead (Wine does, and its file links do not even look like
// links), an empty handle and why.
UniqueHandle OpenItself(const wchar_t* path, DWORD access, Problem* problem)
{
    const DWORD attributes = GetFileAttributesW(path);
    UniqueHandle object = OpenObject(path, access);
    BY_HANDLE_FILE_INFORMATION information{};
    if (attributes == INVALID_FILE_ATTRIBUTES || !object || !GetFileInformationByHandle(object.Get(), &information))
        Fail(problem, "could not be opened", GetLastError());
    else if ((attributes & kAttributeReparsePoint) && !(information.dwFileAttributes & kAttributeReparsePoint))
        Fail(problem, "is a link");
    else if (!(attributes & kAttributeReparsePoint))
        IsAt(object.Get(), path, problem);
    if (problem->what) object.Reset();
    return object;
}

bool DeleteItself(const wchar_t* path, Problem* problem)
{
    const UniqueHandle object = OpenItself(path, DELETE, problem);
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (object && !SetFileInformationByHandle(object.Get(), FileDispositionInfo, &disposition, sizeof disposition))
        Fail(problem, "could not be deleted", GetLastError());
    return object && !problem->what;
}

DWORD ApplyAccessControl(HANDLE object, const wchar_t* sddl)
{
    if (g_accessControlForTesting) return g_accessControlForTesting(object, sddl);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return GetLastError();
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    DWORD result = ERROR_INVALID_SECURITY_DESCR;
    if (GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present &&
        GetSecurityDescriptorOwner(descriptor, &owner, &defaulted))
        result = SetSecurityInfo(object, SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION |
                                     (owner ? OWNER_SECURITY_INFORMATION : 0),
                                 owner, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    return result;
}

// ---- the clean room ----

// Whether the folder at `path` may be used; `opened` keeps the handle it was judged through.
bool InspectFolder(const wchar_t* path, DWORD access, const std::wstring& systemOwner, UniqueHandle* opened,
                   Problem* problem)
{
    opened->Reset();
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(problem, "could not be read", GetLastError());
    // Judged by the path's own attributes before anything is opened: Wine opens a link's target
    // even when asked for the link itself.
    if ((attributes & kAttributeReparsePoint) || !(attributes & kAttributeDirectory))
        return Fail(problem, FolderVerdictText(JudgeFolder(attributes, std::wstring(), std::wstring())));
    UniqueHandle folder = OpenObject(path, access);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!folder || !GetFileInformationByHandle(folder.Get(), &information))
        return Fail(problem, "could not be opened", GetLastError());
    if (!IsAt(folder.Get(), path, problem)) return false;
    const FolderVerdict verdict = JudgeFolder(attributes | information.dwFileAttributes, OwnerOf(folder.Get()), systemOwner);
    if (verdict != FolderVerdict::Usable) return Fail(problem, FolderVerdictText(verdict));
    *opened = std::move(folder);
    return true;
}

// Checks, makes where missing and, when `protect`, gives the clean room's access list to the
// folder at `path`; a folder that fails is set aside once and made anew. False when it cannot be
// used, logged.
bool MakeReady(const wchar_t* path, bool protect, const std::wstring& systemOwner)
{
    const DWORD access = READ_CONTROL | (protect ? WRITE_DAC | WRITE_OWNER : 0);
    Problem problem;
    UniqueHandle folder;
    for (bool setAside = false;; setAside = true) {
        problem.what = nullptr;
        problem.leadsTo[0] = L'\0';
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
            // Made with its access list from the first moment, so that nobody gets in meanwhile.
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
            if (protect && ConvertStringSecurityDescriptorToSecurityDescriptorW(kCleanRoomSddl, SDDL_REVISION_1,
                                                                                &descriptor, nullptr))
                attributes.lpSecurityDescriptor = descriptor;
            const BOOL made = (!protect || descriptor) && CreateDirectoryW(path, &attributes);
            const DWORD error = made ? ERROR_SUCCESS : GetLastError();
            LocalFree(descriptor);
            if (!made && error != ERROR_ALREADY_EXISTS) {
                Fail(&problem, "could not be made", error);
                break;
            }
        }
        if (InspectFolder(path, access, systemOwner, &folder, &problem) || setAside) break;
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        const std::wstring aside = AsideName(path, (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
        // Renamed through a handle to the very folder or link judged, never to what it leads to.
        Problem renaming;
        const UniqueHandle object = OpenItself(path, DELETE, &renaming);
        union {
            FILE_RENAME_INFO info;
            BYTE bytes[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(wchar_t)];
        } rename{};
        rename.info.FileNameLength = static_cast<DWORD>(aside.size() * sizeof(wchar_t));
        if (aside.size() < MAX_PATH) memcpy(rename.info.FileName, aside.c_str(), rename.info.FileNameLength);
        if (!object || aside.size() >= MAX_PATH ||
            !SetFileInformationByHandle(object.Get(), FileRenameInfo, &rename, sizeof rename)) {
            Report("", path, problem);
            Fail(&problem, "could not be set aside", object ? GetLastError() : renaming.error);
            problem.leadsTo[0] = L'\0';
            break;
        }
        Report("", path, problem, ", set aside as ", aside.c_str());
    }
    // Again on every run: whatever an earlier one found here, the list is the clean room's own.
    if (folder && protect) {
        const DWORD error = ApplyAccessControl(folder.Get(), kCleanRoomSddl);
        if (error == ERROR_SUCCESS) return true;
        Fail(&problem, "could not be given its access list", error);
    } else if (folder) {
        return true;
    }
    Report("ERROR: the working folder cannot be used: ", path, problem);
    return false;
}

// ---- files in the user's reach ----

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// Whether every folder of `folder` is a folder and not a link (each one missing made when `make`),
// from below the user's profile folder where it lies there (the user may change anything below
// it), else from below the root (as for "C:\Windows\Temp" of a run as SYSTEM, where every user may
// make folders). Says why not after `head`.
bool UserFoldersUsable(const std::wstring& folder, bool make, const char* head)
{
    wchar_t each[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, each))) each[0] = L'\0';
    const int profile = lstrlenW(each);
    size_t anchor = PathRootLength(folder);
    if (profile > 0 && folder.size() >= static_cast<size_t>(profile) &&
        CompareStringOrdinal(folder.c_str(), profile, each, profile, TRUE) == CSTR_EQUAL &&
        (folder.size() == static_cast<size_t>(profile) || folder[profile] == L'\\'))
        anchor = profile;
    Problem problem;
    if (anchor == 0 || folder.size() >= MAX_PATH) {
        Fail(&problem, "is not a full path");
        Report(head, folder.c_str(), problem);
        return false;
    }
    for (size_t end = 0; NextFolderBelow(folder, anchor, &end);) {
        lstrcpynW(each, folder.c_str(), static_cast<int>(end) + 1);
        DWORD attributes = GetFileAttributesW(each);
        if (attributes == INVALID_FILE_ATTRIBUTES && make && CreateDirectoryW(each, nullptr))
            attributes = GetFileAttributesW(each);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            Fail(&problem, "could not be made", GetLastError());
        else if ((attributes & kAttributeReparsePoint) || !(attributes & kAttributeDirectory))
            Fail(&problem, FolderVerdictText(JudgeFolder(attributes, std::wstring(), std::wstring())));
        if (problem.what) {
            Report(head, each, problem);
            return false;
        }
    }
    return true;
}

// The file at `path`, opened with `access` and no sharing, where no link stands in its path, it
// has no other name and its final path is its own; else an empty handle, and why after `head`.
// It is never truncated on opening, and never made through a link: an existing file is opened
// as it is, a new one made only where no name stands.
UniqueHandle OpenUserFile(const std::wstring& path, DWORD access, const char* head)
{
    if (!UserFoldersUsable(FolderOf(path), true, head)) return UniqueHandle();
    Problem problem;
    UniqueHandle file;
    BY_HANDLE_FILE_INFORMATION information{};
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kAttributeReparsePoint)) {
        Fail(&problem, "is a link");
    } else {
        file.Reset(CreateFileW(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file && GetLastError() == ERROR_FILE_NOT_FOUND)
            file.Reset(CreateFileW(path.c_str(), access, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !GetFileInformationByHandle(file.Get(), &information)) {
            const DWORD error = GetLastError();
            Fail(&problem, error == ERROR_SHARING_VIOLATION ? "is held open by another program" : "could not be opened",
                 error == ERROR_SHARING_VIOLATION ? 0 : error);
        } else if (information.dwFileAttributes & (kAttributeReparsePoint | kAttributeDirectory))
            Fail(&problem, "is a link");
        else if (information.nNumberOfLinks > 1)
            Fail(&problem, "has more than one name");
        else
            IsAt(file.Get(), path.c_str(), &problem);
    }
    if (!problem.what) return file;
    Report(head, path.c_str(), problem);
    return UniqueHandle();
}

std::wstring TokenUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
    const UniqueHandle owner(token);
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD size = 0;
    LPWSTR text = nullptr;
    std::wstring result;
    if (GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidW(buffer.user.User.Sid, &text)) {
        result = text;
        LocalFree(text);
    }
    return result;
}

// ---- programs started ----

// Everything below `folder`, then the folder. A link is removed itself, never followed; where that
// cannot be done, it stays, and so do the folders above it.
void RemoveTree(const std::wstring& folder, int depth)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        if (lstrcmpW(found.cFileName, L".") == 0 || lstrcmpW(found.cFileName, L"..") == 0) continue;
        const std::wstring path = folder + L"\\" + found.cFileName;
        const DWORD attributes = GetFileAttributesW(path.c_str()) | found.dwFileAttributes;
        if ((attributes & kAttributeDirectory) && !(attributes & kAttributeReparsePoint) && depth > 0) {
            RemoveTree(path, depth - 1);
        } else {
            if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            Problem problem;
            DeleteItself(path.c_str(), &problem);
        }
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    Problem problem;
    DeleteItself(folder.c_str(), &problem);
}

// This process's environment with TMP and TEMP naming a folder of the clean room made for the
// prerequisites of this run; empty when there is none.
std::wstring PrerequisiteEnvironment()
{
    if (g_prerequisiteTemp.empty()) {
        const std::wstring folder = g_cleanRoom + L"\\Temp-" + WideDecimal(GetCurrentProcessId());
        // A run that was ended before it could remove its folder may have left one of this name.
        RemoveTree(folder, kRemoveDepth);
        if (!CreateDirectoryW(folder.c_str(), nullptr)) return std::wstring();
        g_prerequisiteTemp = folder;
    }
    wchar_t* strings = GetEnvironmentStringsW();
    if (!strings) return std::wstring();
    const wchar_t* end = strings;
    while (*end) end += lstrlenW(end) + 1;
    const std::wstring block(strings, static_cast<size_t>(end - strings));
    FreeEnvironmentStringsW(strings);
    return WithVariable(WithVariable(block, L"TEMP", g_prerequisiteTemp), L"TMP", g_prerequisiteTemp);
}

}  // namespace

void SetProgramDataForTesting(const std::wstring& folder) { g_programDataForTesting = folder; }
void SetAccessControlCallForTesting(AccessControlCall call) { g_accessControlForTesting = call; }

std::wstring PrepareCleanRoom()
{
    g_cleanRoom.clear();
    g_prerequisiteTemp.clear();
    const std::wstring base = g_programDataForTesting.empty() ? ShellFolder(CSIDL_COMMON_APPDATA) : g_programDataForTesting;
    const std::wstring tarvelo = base + L"\\Tarvelo";
    const std::wstring room = tarvelo + L"\\Setup";
    const std::wstring systemOwner = OwnerOf(OpenObject(ShellFolder(CSIDL_SYSTEM).c_str(), READ_CONTROL).Get());
    Problem problem;
    UniqueHandle folder;
    if (PathRootLength(base) == 0 || room.size() >= MAX_PATH) {
        Fail(&problem, "is no usable path");
        Report("ERROR: the working folder cannot be used: ", room.c_str(), problem);
        return std::wstring();
    }
    // "%ProgramData%" itself cannot be set aside; "Tarvelo" keeps what it inherits, for the
    // product's own folders beside the clean room.
    if (!InspectFolder(base.c_str(), READ_CONTROL, systemOwner, &folder, &problem)) {
        Report("ERROR: the working folder cannot be used: ", base.c_str(), problem);
        return std::wstring();
    }
    if (!MakeReady(tarvelo.c_str(), false, systemOwner) || !MakeReady(room.c_str(), true, systemOwner)) return std::wstring();
    g_cleanRoom = room;
    return room;
}

void UseLogFileForRun(const std::wstring& path) { g_chosenLogFile = path; }

UniqueHandle OpenLogFile()
{
    // Without TEMP the folders start at "\Tarvelo...", the root of the current drive, which the
    // checks need spelled out.
    wchar_t temp[MAX_PATH] = L"";
    // A path beyond the platform's limit turns logging off rather than landing elsewhere.
    if (g_chosenLogFile.empty() && GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH) >= MAX_PATH) return UniqueHandle();
    const std::wstring name =
        g_chosenLogFile.empty() ? temp + std::wstring(L"\\Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt") : g_chosenLogFile;
    wchar_t path[MAX_PATH] = L"";
    const DWORD full = GetFullPathNameW(name.c_str(), MAX_PATH, path, nullptr);
    if (full == 0 || full >= MAX_PATH) return UniqueHandle();
    UniqueHandle file = OpenUserFile(path, GENERIC_READ | GENERIC_WRITE, nullptr);
    // The file always holds the current run only; it is emptied now that it is known to be its own.
    if (file && !SetEndOfFile(file.Get())) file.Reset();
    return file;
}

std::wstring ProxyFilePath()
{
    const std::wstring folder = ShellFolder(CSIDL_APPDATA);
    const std::wstring path = folder + L"\\ProxyInfo.proxy";
    return (folder.empty() || path.size() >= MAX_PATH) ? std::wstring() : path;
}

void DeleteProxyFile(const std::wstring& path)
{
    const char* const head = "Proxy file not deleted: ";
    Problem problem;
    // A link in the file's own place goes itself where it can; deleting never follows it.
    if (!path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
        UserFoldersUsable(FolderOf(path), false, head) && !DeleteItself(path.c_str(), &problem))
        Report(head, path.c_str(), problem);
}

bool AppendToProxyFile(const std::wstring& path, const std::string& bytes)
{
    const char* const head = "Proxy file not written: ";
    const UniqueHandle file = OpenUserFile(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC, head);
    if (!file) return false;
    // It may hold a password: before anything is written, only the user, Administrators and
    // SYSTEM may read it.
    const std::wstring user = TokenUserSid();
    const DWORD error = user.empty() ? ERROR_INVALID_SID : ApplyAccessControl(file.Get(), UserFileSddl(user).c_str());
    Problem problem;
    LARGE_INTEGER end{};
    DWORD written = 0;
    if (error != ERROR_SUCCESS)
        Fail(&problem, "could not be given its access list", error);
    else if (!SetFilePointerEx(file.Get(), end, nullptr, FILE_END) ||
             !WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
             written != bytes.size())
        Fail(&problem, "could not be written", GetLastError());
    if (!problem.what) return true;
    Report(head, path.c_str(), problem);
    return false;
}

bool StartCheckedProgram(const std::wstring& program, const std::wstring& commandLine, UniqueHandle checkedFile,
                         StartedProgram kind, HANDLE* process, HANDLE* thread)
{
    if (process) *process = nullptr;
    if (thread) *thread = nullptr;
    Problem problem;
    if (!checkedFile) Fail(&problem, "is not the file that was checked");
    else IsAt(checkedFile.Get(), program.c_str(), &problem);
    const wchar_t* directory = g_cleanRoom.empty() ? nullptr : g_cleanRoom.c_str();
    std::wstring environment;
    if (!problem.what && directory && kind == StartedProgram::Prerequisite) {
        environment = PrerequisiteEnvironment();
        if (environment.empty()) Fail(&problem, "has no folder for its temporary files");
    }
    if (problem.what) {
        Report("Start refused: ", program.c_str(), problem);
        return false;
    }
    return StartProcess(commandLine, process, thread, directory, environment.empty() ? nullptr : environment.c_str());
}

void RemovePrerequisiteTemp()
{
    if (g_prerequisiteTemp.empty()) return;
    RemoveTree(g_prerequisiteTemp, kRemoveDepth);
    g_prerequisiteTemp.clear();
}
