#include "download/script_sandbox.h"

#include <psapi.h>

#include <vector>

#include "download/portable/script_child_pipe.h"
#include "download/script_child.h"
#include "support/win32_handle.h"

namespace {
const wchar_t* g_programForTesting = nullptr;
// How often a running child's memory is looked at. Windows bounds it in the job as well;
// Wine keeps no job limit but the one process's handle closing.
constexpr DWORD kPollMs = 50;
// The exit code of a child its job ended.
constexpr UINT kStoppedExitCode = ERROR_TIMEOUT;

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&m_lock); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& m_lock;
};

// The list of one attribute, in a buffer of its own.
class AttributeList {
public:
    AttributeList()
    {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_ready = size > 0 && size <= sizeof(m_bytes) && InitializeProcThreadAttributeList(Get(), 1, 0, &size);
    }
    ~AttributeList()
    {
        if (m_ready) DeleteProcThreadAttributeList(Get());
    }
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;
    bool Ready() const { return m_ready; }
    LPPROC_THREAD_ATTRIBUTE_LIST Get() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_bytes); }

private:
    alignas(8) BYTE m_bytes[256];
    bool m_ready = false;
};

UniqueHandle NoHandle(LookupNotes* notes, const char* call)
{
    notes->CallFailed(call);
    return UniqueHandle();
}

std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind)
{
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> bytes(size);
    if (size == 0 || !GetTokenInformation(token, kind, bytes.data(), size, &size)) bytes.clear();
    return bytes;
}

// Every privilege of a token but change-notify, which every process keeps. Windows knows
// three dozen privileges.
struct Privileges {
    LUID_AND_ATTRIBUTES list[64];
    DWORD count = 0;
};

bool PrivilegesBeyondChangeNotify(HANDLE token, Privileges* out)
{
    const std::vector<BYTE> bytes = TokenInformation(token, TokenPrivileges);
    LUID changeNotify{};
    if (bytes.empty() || !LookupPrivilegeValueW(nullptr, L"SeChangeNotifyPrivilege", &changeNotify)) return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(bytes.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& luid = privileges->Privileges[i].Luid;
        if (luid.LowPart == changeNotify.LowPart && luid.HighPart == changeNotify.HighPart) continue;
        if (out->count == sizeof(out->list) / sizeof(out->list[0])) return false;
        out->list[out->count++] = privileges->Privileges[i];
    }
    return true;
}

// Why `token` may not be the child's, or nullptr when it may: the Administrators group, where
// it is there, must count for deny only, and no privilege but change-notify may be left. Its
// integrity level is not read back: Wine reads back High whatever was set.
const char* WhyNotTheChildsToken(HANDLE token, PSID administrators)
{
    Privileges privileges;
    if (!PrivilegesBeyondChangeNotify(token, &privileges)) return "Restricted token refused: its privileges cannot be read";
    if (privileges.count != 0) return "Restricted token refused: it keeps a privilege";
    const std::vector<BYTE> bytes = TokenInformation(token, TokenGroups);
    if (bytes.empty()) return "Restricted token refused: its groups cannot be read";
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(bytes.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const DWORD attributes = groups->Groups[i].Attributes;
        if (EqualSid(groups->Groups[i].Sid, administrators) &&
            ((attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0 || (attributes & SE_GROUP_ENABLED) != 0))
            return "Restricted token refused: it keeps the Administrators group";
    }
    return nullptr;
}

// A restricted copy of this process's token at low integrity, read back before it is used.
UniqueHandle RestrictedToken(LookupNotes* notes)
{
    UniqueHandle own, restricted;
    BYTE administrators[SECURITY_MAX_SID_SIZE], low[SECURITY_MAX_SID_SIZE];
    DWORD administratorsSize = sizeof(administrators), lowSize = sizeof(low);
    Privileges privileges;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                          own.Put()))
        return NoHandle(notes, "OpenProcessToken");
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administratorsSize) ||
        !CreateWellKnownSid(WinLowLabelSid, nullptr, low, &lowSize))
        return NoHandle(notes, "CreateWellKnownSid");
    if (!PrivilegesBeyondChangeNotify(own.Get(), &privileges)) return NoHandle(notes, "GetTokenInformation");
    SID_AND_ATTRIBUTES denyOnly{administrators, 0};
    // Windows keeps change-notify alone for DISABLE_MAX_PRIVILEGE and ignores the list; Wine
    // ignores the flag and takes the list.
    if (!CreateRestrictedToken(own.Get(), DISABLE_MAX_PRIVILEGE, 1, &denyOnly, privileges.count,
                               privileges.count ? privileges.list : nullptr, 0, nullptr, restricted.Put()))
        return NoHandle(notes, "CreateRestrictedToken");
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Sid = low;
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    if (!SetTokenInformation(restricted.Get(), TokenIntegrityLevel, &label, sizeof(label) + GetLengthSid(low)))
        return NoHandle(notes, "SetTokenInformation");
    if (const char* why = WhyNotTheChildsToken(restricted.Get(), administrators)) {
        notes->Add(why);
        return UniqueHandle();
    }
    return restricted;
}

UniqueHandle ChildJob(LookupNotes* notes)
{
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) return NoHandle(notes, "CreateJobObjectW");
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_ACTIVE_PROCESS |
                                              JOB_OBJECT_LIMIT_PROCESS_MEMORY |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    limits.ProcessMemoryLimit = 2 * kScriptChildMemoryLimit;
    if (!SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)))
        return NoHandle(notes, "SetInformationJobObject");
    return job;
}

struct Child {
    UniqueHandle process, thread, requestWrite, replyRead;
};

// Starts this program's exe suspended with `token`, handing it the child's ends of two pipes
// and nothing else; its current folder is the system folder, never the installer's.
bool StartChild(HANDLE token, Child* child, LookupNotes* notes)
{
    wchar_t program[MAX_PATH], folder[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return notes->CallFailed("GetModuleFileNameW");
    if (g_programForTesting) lstrcpynW(program, g_programForTesting, MAX_PATH);
    const UINT folderLength = GetSystemDirectoryW(folder, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH) return notes->CallFailed("GetSystemDirectoryW");
    UniqueHandle requestRead, replyWrite;
    if (!CreatePipe(requestRead.Put(), child->requestWrite.Put(), nullptr, 0) ||
        !CreatePipe(child->replyRead.Put(), replyWrite.Put(), nullptr, 0))
        return notes->CallFailed("CreatePipe");
    HANDLE inherited[2] = {requestRead.Get(), replyWrite.Get()};
    for (HANDLE handle : inherited)
        if (!SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
            return notes->CallFailed("SetHandleInformation");
    AttributeList attributes;
    if (!attributes.Ready() || !UpdateProcThreadAttribute(attributes.Get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                          inherited, sizeof(inherited), nullptr, nullptr))
        return notes->CallFailed("UpdateProcThreadAttribute");
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.lpAttributeList = attributes.Get();
    std::wstring commandLine =
        ScriptChildCommandLine(program, HandleToULong(requestRead.Get()), HandleToULong(replyWrite.Get()));
    PROCESS_INFORMATION info{};
    const DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT;
    // Out of any job the installer was started in, where that job allows it, so that the
    // child's own job can take it on Windows 7, which has no nested jobs; else inside it.
    for (DWORD breakaway : {DWORD(CREATE_BREAKAWAY_FROM_JOB), DWORD(0)}) {
        if (CreateProcessAsUserW(token, program, &commandLine[0], nullptr, nullptr, TRUE, flags | breakaway, nullptr,
                                 folder, &startup.StartupInfo, &info))
            break;
        if (!breakaway || GetLastError() != ERROR_ACCESS_DENIED) return notes->CallFailed("CreateProcessAsUserW");
    }
    child->process.Reset(info.hProcess);
    child->thread.Reset(info.hThread);
    return true;
}

bool OverMemoryLimit(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    return K32GetProcessMemoryInfo(process, &counters, sizeof(counters)) &&
           counters.PagefileUsage >= kScriptChildMemoryLimit;
}

// Windows' own bound in the job, where the child met it before it was seen.
bool ReachedMemoryLimit(HANDLE job)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    return QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits), nullptr) &&
           limits.PeakProcessMemoryUsed >= kScriptChildMemoryLimit;
}

// Hands the request over and reads the reply, bounded by the reply's size, the child's memory
// and its life (which Stop() or the job's limits end).
ScriptSandbox::Outcome Exchange(Child& child, HANDLE job, const std::string& request, std::string* answer,
                                LookupNotes* notes)
{
    using Outcome = ScriptSandbox::Outcome;
    // A child that ends before it has read everything shows in what comes back.
    WriteWholeMessage(child.requestWrite.Get(), request);
    child.requestWrite.Reset();
    std::string bytes;
    ScriptReply reply;
    Decoded decoded = Decoded::Incomplete;
    bool overMemory = false;
    for (bool ended = false; decoded == Decoded::Incomplete;) {
        DWORD available = 0;
        const bool open = PeekNamedPipe(child.replyRead.Get(), nullptr, 0, nullptr, &available, nullptr) != FALSE;
        if (open && available > 0) {
            char buffer[1024];
            DWORD got = 0;
            if (ReadFile(child.replyRead.Get(), buffer, available < sizeof(buffer) ? available : sizeof(buffer), &got,
                         nullptr) &&
                got > 0) {
                bytes.append(buffer, got);
                decoded = DecodeScriptReply(bytes.data(), bytes.size(), &reply);
                continue;
            }
        }
        // Once the child has ended, the pipe is looked at once more for what it wrote last.
        if (!open || ended) break;
        ended = WaitForSingleObject(child.process.Get(), 0) == WAIT_OBJECT_0;
        overMemory = !ended && OverMemoryLimit(child.process.Get());
        if (overMemory) break;
        if (!ended) WaitForSingleObject(child.process.Get(), kPollMs);
    }
    if (decoded != Decoded::Complete) TerminateJobObject(job, kStoppedExitCode);
    // An answer that came within the bound stands; anything else that met it, met it there.
    const bool answered = decoded == Decoded::Complete && reply.outcome == ScriptReply::Outcome::Answered;
    if (overMemory || (!answered && ReachedMemoryLimit(job))) {
        static_assert(kScriptChildMemoryLimit == 128 * 1024 * 1024, "the log line names the limit");
        notes->Add("Proxy auto-configuration script stopped at its memory limit of 128 MB");
        return Outcome::Failed;
    }
    if (decoded == Decoded::Malformed) {
        notes->Add("Proxy auto-configuration answer refused: not an answer");
        return Outcome::Failed;
    }
    if (decoded == Decoded::Incomplete) {
        DWORD exitCode = 0;
        WaitForSingleObject(child.process.Get(), 1000);
        GetExitCodeProcess(child.process.Get(), &exitCode);
        notes->Add("Proxy auto-configuration script ended without an answer", exitCode, LookupNotes::Form::ExitCode);
        return Outcome::Failed;
    }
    switch (reply.outcome) {
    case ScriptReply::Outcome::Answered:
        answer->swap(reply.text);
        return Outcome::Answered;
    case ScriptReply::Outcome::NoEngine:
        notes->Add("InternetInitializeAutoProxyDll", reply.code, LookupNotes::Form::Call);
        return Outcome::NotRun;
    case ScriptReply::Outcome::ScriptFailed:
        notes->Add("InternetGetProxyInfo", reply.code, LookupNotes::Form::Call);
        return Outcome::ScriptFailed;
    case ScriptReply::Outcome::AnswerTooLong:
        notes->Add("Proxy auto-configuration answer refused: longer than 4096 bytes");
        return Outcome::Failed;
    case ScriptReply::Outcome::Refused:
        break;
    }
    notes->Add("Proxy auto-configuration script refused by its process: its token is not restricted");
    return Outcome::NotRun;
}
}  // namespace

ScriptSandbox::Outcome ScriptSandbox::Run(const ScriptRequest& request, std::string* answer, LookupNotes* notes)
{
    if (Stopped()) return Outcome::Stopped;
    const std::string bytes = EncodeScriptRequest(request);
    if (!ScriptChildEntryPresent() || bytes.empty()) {
        notes->Add("No restricted process for the proxy auto-configuration script");
        return Outcome::NotRun;
    }
    const UniqueHandle token = RestrictedToken(notes);
    if (!token) return Outcome::NotRun;
    const UniqueHandle job = ChildJob(notes);
    if (!job) return Outcome::NotRun;
    Child child;
    if (!StartChild(token.Get(), &child, notes)) return Outcome::NotRun;
    {
        ExclusiveLock hold(m_lock);
        const bool assigned = !m_stopped && AssignProcessToJobObject(job.Get(), child.process.Get());
        if (!assigned) {
            const DWORD error = GetLastError();
            TerminateProcess(child.process.Get(), kStoppedExitCode);
            if (m_stopped) return Outcome::Stopped;
            notes->Add("AssignProcessToJobObject", error, LookupNotes::Form::Call);
            return Outcome::NotRun;
        }
        m_job = job.Get();
    }
    ResumeThread(child.thread.Get());
    const Outcome outcome = Exchange(child, job.Get(), bytes, answer, notes);
    ExclusiveLock hold(m_lock);
    m_job = nullptr;
    // Closing the job, on the way out, ends whatever the child may have left behind.
    return m_stopped ? Outcome::Stopped : outcome;
}

void ScriptSandbox::Stop()
{
    ExclusiveLock hold(m_lock);
    m_stopped = true;
    if (m_job) TerminateJobObject(m_job, kStoppedExitCode);
}

bool ScriptSandbox::Stopped()
{
    ExclusiveLock hold(m_lock);
    return m_stopped;
}

void SetScriptChildProgramForTesting(const wchar_t* program) { g_programForTesting = program; }
