#pragma once
#include <string>

// Opens `url` in the platform's browser (IEXPLORE.EXE below the Program Files folder). False,
// and nothing started, when that folder cannot be found or the start fails.
bool OpenInBrowser(const std::wstring& url);
