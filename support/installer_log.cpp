#include "support/installer_log.h"

#include <windows.h>

#include <string>

#include "support/clean_room.h"
#include "support/win32_handle.h"

namespace {

// Guards the creation of the log, every line and the reset in Close. Created before the entry
// runs, so that the first Instance call can already take it.
StaticCriticalSection g_logLock;
InstallerLog* g_log = nullptr;

void WriteLine(void* file, std::string& text)
{
    if (file == INVALID_HANDLE_VALUE) return;
    text.append("\r\n");
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(file), data, chunk, &written, nullptr) || written == 0)
            return;
        data += written;
        left -= written;
    }
}

}  // namespace

InstallerLog::InstallerLog() : m_file(INVALID_HANDLE_VALUE)
{
    try {
        // Exclusive, and emptied: the file always holds the current run only.
        UniqueHandle file = OpenLogFile();
        if (file) m_file = file.Release();
    } catch (...) {
    }
}

InstallerLog* InstallerLog::Instance()
{
    StaticCriticalSectionLock lock(g_logLock);
    if (!g_log) {
        try {
            g_log = new InstallerLog();
        } catch (...) {
            return nullptr;  // out of memory
        }
    }
    return g_log;
}

void InstallerLog::Write(std::string text)
{
    StaticCriticalSectionLock lock(g_logLock);
    try {
        WriteLine(m_file, text);
    } catch (...) {
    }
}

void InstallerLog::WriteWide(std::wstring text)
{
    StaticCriticalSectionLock lock(g_logLock);
    try {
        std::string narrow;
        if (!text.empty() && text.size() < 0x7FFFFFFF) {
            const int length = static_cast<int>(text.size());
            const int needed =
                WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
            if (needed > 0) {
                narrow.resize(static_cast<size_t>(needed));
                const int done = WideCharToMultiByte(CP_ACP, 0, text.data(), length, &narrow[0],
                                                     needed, nullptr, nullptr);
                narrow.resize(done > 0 ? static_cast<size_t>(done) : 0);
            }
        }
        WriteLine(m_file, narrow);
    } catch (...) {
    }
}

void InstallerLog::Close()
{
    // The handle is closed under the lock too, so that no other thread writes into a handle
    // that is being closed (or, worse, into one the system has already handed out again).
    StaticCriticalSectionLock lock(g_logLock);
    if (!g_log) return;
    if (g_log->m_file != INVALID_HANDLE_VALUE) {
        CloseHandle(static_cast<HANDLE>(g_log->m_file));
        g_log->m_file = INVALID_HANDLE_VALUE;
    }
    g_log = nullptr;  // the object stays: callers may still hold it, and then write nothing
}

void Log(const char* line)
{
    if (InstallerLog* log = InstallerLog::Instance()) log->Write(line);
}

void Log(const std::string& line)
{
    if (InstallerLog* log = InstallerLog::Instance()) log->Write(line);
}

void LogWide(const std::wstring& line)
{
    if (InstallerLog* log = InstallerLog::Instance()) log->WriteWide(line);
}
