#pragma once
#include <string>

// The command line that opens `url` in the platform's browser:
// "<programFilesFolder>\Internet Explorer\IEXPLORE.EXE" "<url>", at its full length.
std::wstring BuildBrowserCommandLine(const std::wstring& programFilesFolder, const std::wstring& url);
