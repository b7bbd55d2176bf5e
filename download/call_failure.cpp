#include "download/call_failure.h"


#include <atomic>

#include "download/portable/failure_text.h"
#include "support/installer_log.h"

namespace {
std::atomic<DWORD> g_secureFailureFlags{0};

// Called by WinHTTP, on the thread of the send, for the one notification asked for. No
// exception can leave it: it only copies a number.
void CALLBACK OnSecureFailure(HINTERNET, DWORD_PTR, DWORD status, LPVOID information, DWORD length) noexcept
{
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && information && length >= sizeof(DWORD))
        g_secureFailureFlags.store(*static_cast<const DWORD*>(information));
}
}  // namespace

void LogCallFailure(const char* call, DWORD error)
{
    Log(CallFailureLine(call, error));
}

void LogSecureFailureIfAny()
{
    const DWORD flags = g_secureFailureFlags.exchange(0);
    if (flags != 0) Log(SecureFailureLine(flags));
}

void WatchSecureFailures(HINTERNET request)
{
    if (!request) return;
    g_secureFailureFlags.store(0);
    if (WinHttpSetStatusCallback(request, &OnSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK)
        LogCallFailure("WinHttpSetStatusCallback", GetLastError());
}
