#pragma once
#include <windows.h>

#include <string>
#include <vector>

// What the network tests' wrapper (tests/servers/run_nettest.py) hands over, and helpers to
// check the files a download produced.
namespace NetEnv {
bool Available();                       // false when not run through the wrapper
int Port(const char* variable);         // TARVELO_NGINX_PORT, TARVELO_FAULT_PORT, ...
std::string Unix(const char* variable); // a variable as given (ASCII values only: names, ports)
std::wstring WindowsPath(const wchar_t* variable);  // Z:\... for a Unix path variable
std::wstring Work();                    // the run's scratch folder, Windows form, no trailing '\'
std::wstring Served(const wchar_t* name);  // the served file's Windows path
std::wstring Url(int port, const std::wstring& pathAndQuery, const wchar_t* host = L"dl.tarvelo.com");

std::vector<char> ReadAll(const std::wstring& path);
bool WriteAll(const std::wstring& path, const std::vector<char>& bytes);
bool SameBytes(const std::wstring& a, const std::wstring& b);

// Lines of the fault server's request log that contain `needle`.
std::vector<std::string> FaultRequests(const std::string& needle);
// The installer log of this process (TEMP is pointed at the scratch folder by UseOwnTemp).
void UseOwnTemp();
std::string InstallerLogText();
// A wide text as the 8-bit log writes it (the ANSI code page, its best fit and its default
// character), so that paths under any checkout folder can be looked for in the log.
std::string AsLogged(const std::wstring& text);

// The browser's connection settings (the only source of its proxy under Wine): flags 1 = direct,
// 2 = proxy, 4 = auto-configuration script, 8 = auto-detection, with the proxy text and the
// script's URL as given.
bool SetBrowserProxy(unsigned flags, const std::string& proxy, const std::string& scriptUrl = "");

// Puts the process-wide download and proxy state back to its start-of-run values.
void ResetDownloadState();
}  // namespace NetEnv
