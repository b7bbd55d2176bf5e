#include "download/script_child.h"

#include <tlhelp32.h>

#include "download/portable/script_child_pipe.h"
#include "support/system_library.h"
#include "support/win32_handle.h"

namespace {
bool g_entryPresent = false;

// Whether the process that started this one runs a program of this one's file name; `parent`
// gets its id.
bool ParentRunsThisProgram(DWORD* parent)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c; ++c)
        if (*c == L'\\' || *c == L'/') name = c + 1;
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    *parent = 0;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
        if (entry.th32ProcessID == GetCurrentProcessId()) *parent = entry.th32ParentProcessID;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); *parent && more;
         more = Process32NextW(snapshot.Get(), &entry))
        if (entry.th32ProcessID == *parent) return lstrcmpiW(entry.szExeFile, name) == 0;
    return false;
}

// A pipe whose both ends `parent` opened: what CreatePipe there gives, and nothing a user can
// name on a command line.
bool IsPipeOf(HANDLE handle, DWORD parent)
{
    ULONG server = 0, client = 0;
    return GetFileType(handle) == FILE_TYPE_PIPE && GetNamedPipeServerProcessId(handle, &server) &&
           GetNamedPipeClientProcessId(handle, &client) && server == parent && client == parent;
}

bool IsAdministrator()
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    BOOL member = TRUE;
    // A deny-only group does not count; a check that cannot be made counts as membership.
    return !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
           !CheckTokenMembership(nullptr, administrators, &member) || member;
}

struct ScriptBuffer {  // AUTO_PROXY_SCRIPT_BUFFER, whose header conflicts with WinHTTP's
    DWORD structSize;
    LPSTR script;
    DWORD scriptSize;
};

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *function != nullptr;
}

ScriptReply Failure(ScriptReply::Outcome outcome, DWORD code)
{
    ScriptReply reply;
    reply.outcome = outcome;
    reply.code = code;
    return reply;
}

// jsproxy.dll hands back the script's whole answer ("PROXY a:1; PROXY b:2; DIRECT").
ScriptReply RunInScriptEngine(ScriptRequest& request)
{
    using Initialize = BOOL(WINAPI*)(DWORD, LPSTR, LPSTR, void*, ScriptBuffer*);
    using Deinitialize = BOOL(WINAPI*)(LPSTR, DWORD);
    using GetProxyInfo = BOOL(WINAPI*)(LPCSTR, DWORD, LPSTR, DWORD, LPSTR*, LPDWORD);
    Initialize initialize = nullptr;
    Deinitialize deinitialize = nullptr;
    GetProxyInfo getProxyInfo = nullptr;
    const HMODULE engine = LoadSystemLibrary(L"jsproxy.dll");
    if (!engine) return Failure(ScriptReply::Outcome::NoEngine, GetLastError());
    if (!Resolve(engine, "InternetInitializeAutoProxyDll", &initialize) ||
        !Resolve(engine, "InternetDeInitializeAutoProxyDll", &deinitialize) ||
        !Resolve(engine, "InternetGetProxyInfo", &getProxyInfo))
        return Failure(ScriptReply::Outcome::NoEngine, ERROR_PROC_NOT_FOUND);
    ScriptBuffer buffer{sizeof(ScriptBuffer), &request.script[0], static_cast<DWORD>(request.script.size() + 1)};
    // Refused on Windows 11, where jsproxy runs no scripts any more.
    if (!initialize(0, nullptr, nullptr, nullptr, &buffer)) return Failure(ScriptReply::Outcome::NoEngine, GetLastError());
    LPSTR result = nullptr;
    DWORD length = 0;
    const BOOL ran = getProxyInfo(request.url.c_str(), static_cast<DWORD>(request.url.size()), &request.host[0],
                                  static_cast<DWORD>(request.host.size()), &result, &length);
    const DWORD error = GetLastError();
    deinitialize(nullptr, 0);
    if (!ran || !result) return Failure(ScriptReply::Outcome::ScriptFailed, error);
    ScriptReply reply;
    reply.outcome = ScriptReply::Outcome::Answered;
    size_t used = 0;
    while (used < length && result[used]) ++used;
    if (used > kMaxScriptAnswerBytes)
        reply = Failure(ScriptReply::Outcome::AnswerTooLong, 0);
    else
        reply.text.assign(result, used);
    GlobalFree(result);
    return reply;
}

}  // namespace

bool IsScriptChildStart(ScriptChildPipes* pipes)
{
    g_entryPresent = true;
    uint32_t request = 0, reply = 0;
    DWORD parent = 0;
    if (!ParseScriptChildCommandLine(GetCommandLineW(), &request, &reply) || !ParentRunsThisProgram(&parent))
        return false;
    const HANDLE requestPipe = ULongToHandle(request), replyPipe = ULongToHandle(reply);
    if (!IsPipeOf(requestPipe, parent) || !IsPipeOf(replyPipe, parent)) return false;
    pipes->request = requestPipe;
    pipes->reply = replyPipe;
    return true;
}

int RunScriptChild(const ScriptChildPipes& pipes)
{
    // A script that brings the engine down ends this process quietly, without a crash dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::string bytes;
    ScriptRequest request;
    Decoded decoded = Decoded::Incomplete;
    char buffer[16 * 1024];
    while (decoded == Decoded::Incomplete) {
        DWORD got = 0;
        if (!ReadFile(pipes.request, buffer, sizeof(buffer), &got, nullptr) || got == 0) return 2;
        bytes.append(buffer, got);
        decoded = DecodeScriptRequest(bytes.data(), bytes.size(), &request);
    }
    if (decoded != Decoded::Complete) return 2;
    std::string().swap(bytes);
    ScriptReply reply = IsAdministrator() ? Failure(ScriptReply::Outcome::Refused, 0) : RunInScriptEngine(request);
    std::string encoded = EncodeScriptReply(reply);
    // An answer the installer would refuse (a control character in it) is a failed script.
    if (encoded.empty()) encoded = EncodeScriptReply(Failure(ScriptReply::Outcome::ScriptFailed, ERROR_INVALID_DATA));
    return WriteWholeMessage(pipes.reply, encoded) ? 0 : 3;
}

bool WriteWholeMessage(HANDLE pipe, const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        DWORD written = 0;
        if (!WriteFile(pipe, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

bool ScriptChildEntryPresent() { return g_entryPresent; }
