#include "ui/controls/browser.h"

#include <shlobj.h>

#include "support/process_start.h"
#include "ui/controls/portable/browser_command.h"

bool OpenInBrowser(const std::wstring& url)
{
    wchar_t programFiles[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles)) ||
        programFiles[0] == L'\0') {
        return false;  // without the folder there is no browser path to start
    }
    return StartProcess(BuildBrowserCommandLine(programFiles, url));
}
