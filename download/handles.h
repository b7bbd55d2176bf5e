#pragma once
#include <windows.h>
#include <winhttp.h>

#include "support/win32_handle.h"

// WinHTTP session, connection and request handles.
struct WinHttpHandleTraits {
    static bool IsValid(HINTERNET handle) { return handle != nullptr; }
    static void Close(HINTERNET handle) { WinHttpCloseHandle(handle); }
};
using WinHttpHandle = UniqueOwner<HINTERNET, WinHttpHandleTraits>;
