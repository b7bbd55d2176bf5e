#pragma once
#include <windows.h>

#include <string>

#include "prereq/portable/download_plan.h"
#include "support/portable/sha256.h"

// The SHA-256 of a file on disk, read in one streaming pass; false when it cannot be read.
bool DigestOfFile(const std::wstring& path, Sha256::Digest* digest);

enum class PayloadCheck {
    Good,      // no digest configured, or the file has it
    Again,     // the file did not have it: it is deleted, fetch it once more from byte 0
    Rejected,  // a second complete download did not have it either: the download fails
};

// Checks a completely downloaded file against the item's digest. A file that fails the check
// is deleted at once, so that nothing can start it, and the item is set to start again from 0.
PayloadCheck CheckDownloadedPayload(DownloadItem& item);
