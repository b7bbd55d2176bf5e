#include "support/net_env.h"

#include <cstdlib>

#include "support/installer_log.h"
#include "support/scratch_folder.h"

#include "app/worker.h"
#include "download/proxy_state.h"
#include "download/shared_state.h"

namespace NetEnv {

bool Available() { return std::getenv("TARVELO_NET_WORK") != nullptr; }

int Port(const char* variable)
{
    const char* v = std::getenv(variable);
    return v ? std::atoi(v) : 0;
}

std::string Unix(const char* variable)
{
    const char* v = std::getenv(variable);
    return v ? v : "";
}

std::string AsLogged(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int wide = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), wide, &narrow[0], length, nullptr, nullptr);
    return narrow;
}

std::wstring WindowsPath(const wchar_t* variable) { return WindowsPathFromEnvironment(variable); }

std::wstring Work() { return WindowsPath(L"TARVELO_NET_WORK"); }

std::wstring Served(const wchar_t* name) { return WindowsPath(L"TARVELO_NET_ROOT") + L"\\" + name; }

std::wstring Url(int port, const std::wstring& pathAndQuery, const wchar_t* host)
{
    return std::wstring(L"http://") + host + L":" + std::to_wstring(port) + pathAndQuery;
}

std::vector<char> ReadAll(const std::wstring& path)
{
    std::vector<char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    CloseHandle(file);
    return bytes;
}

bool WriteAll(const std::wstring& path, const std::vector<char>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool SameBytes(const std::wstring& a, const std::wstring& b)
{
    const std::vector<char> x = ReadAll(a), y = ReadAll(b);
    return !x.empty() && x == y;
}

std::vector<std::string> FaultRequests(const std::string& needle)
{
    std::vector<std::string> lines;
    const std::vector<char> bytes = ReadAll(WindowsPath(L"TARVELO_FAULT_LOG"));
    std::string current;
    for (char c : bytes) {
        if (c == '\n') {
            if (current.find(needle) != std::string::npos) lines.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    return lines;
}

void UseOwnTemp()
{
    const std::wstring temp = Work() + L"\\temp";
    CreateDirectoryW(temp.c_str(), nullptr);
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
}

std::string InstallerLogText()
{
    // The log denies sharing while open; it reopens itself on the next line.
    InstallerLog::Close();
    const std::vector<char> bytes = ReadAll(Work() + L"\\temp\\Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt");
    return std::string(bytes.begin(), bytes.end());
}

bool SetBrowserProxy(unsigned flags, const std::string& proxy, const std::string& scriptUrl)
{
    std::vector<unsigned char> value;
    auto dword = [&](DWORD v) {
        for (int i = 0; i < 4; ++i) value.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    static DWORD counter = 100;
    dword(0x46);
    dword(++counter);
    dword(flags);
    dword(static_cast<DWORD>(proxy.size()));
    value.insert(value.end(), proxy.begin(), proxy.end());
    dword(0);  // bypass list
    dword(static_cast<DWORD>(scriptUrl.size()));
    value.insert(value.end(), scriptUrl.begin(), scriptUrl.end());
    value.resize(value.size() + 32, 0);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER,
                        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections", 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY, value.data(),
                                   static_cast<DWORD>(value.size()));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace NetEnv

void NetEnv::ResetDownloadState()
{
    TryBrowserProxy = ProxyPromptPending = ProxyCredentialsPromptPending = true;
    ProxyServerLinePending = ProxyCredentialsLinePending = true;
    ProxyPromptCount = ProxyAuthCount = 0;
    AbortRequested.store(false);
    BytesOnDisk = ContentLength = 0;
    ConnectEngineToDialogs();
}
