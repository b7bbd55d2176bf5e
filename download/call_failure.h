#pragma once
#include <windows.h>
#include <winhttp.h>

// The download engine's one way of saying why a platform call failed: a line of our own,
// "<call> failed with error <decimal code>", written after any line the step itself writes.
// It names the call and its code only, never an argument (credentials pass through some).
void LogCallFailure(const char* call, DWORD error);

// Has `request` report what is wrong with a certificate it refuses.
void WatchSecureFailures(HINTERNET request);
// After a failed send or receive: the line saying what was wrong with the certificate, when
// the platform reported anything since the request was watched or this was last called.
void LogSecureFailureIfAny();
