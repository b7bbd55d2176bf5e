#pragma once
#include <string>

// The single log of the process: "Stage1Logs.txt" below %TEMP%\Tarvelo\Logs\InstallerLogs.
// One line per call, CR LF appended, written at once; it never fails its caller.
class InstallerLog {
public:
    static InstallerLog* Instance();
    void Write(std::string text);
    void WriteWide(std::wstring text);
    static void Close();

    InstallerLog(const InstallerLog&) = delete;
    InstallerLog& operator=(const InstallerLog&) = delete;

private:
    InstallerLog();
    void* m_file;  // HANDLE; INVALID_HANDLE_VALUE when logging is off
};

// One line to the log of the process. The log may be missing (its creation ran out of memory);
// then the line is dropped, as the log drops its own failures.
void Log(const char* line);  // for literals: builds the text here, not at every caller
void Log(const std::string& line);
void LogWide(const std::wstring& line);
