#include "ui/controls/portable/browser_command.h"

std::wstring BuildBrowserCommandLine(const std::wstring& programFilesFolder, const std::wstring& url)
{
    std::wstring line;
    line.reserve(programFilesFolder.size() + url.size() + 40);
    line += L'"';
    line += programFilesFolder;
    line += L"\\Internet Explorer\\IEXPLORE.EXE\" \"";
    line += url;
    line += L'"';
    return line;
}
