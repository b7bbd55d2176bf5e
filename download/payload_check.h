#pragma once
#include <windows.h>

#include <string>

#include "prereq/portable/download_plan.h"
#include "support/portable/sha256.h"
#include "support/win32_handle.h"

// The SHA-256 of a file on disk, read in one streaming pass; false when it cannot be read.
bool DigestOfFile(const std::wstring& path, Sha256::Digest* digest);

// Turns the write handle of a complete download into the read handle it is checked through and
// then held by until the program started from it exists: read access, read sharing only. The
// file is never without a handle that keeps others from renaming or deleting it. With no write
// handle (a file found complete on disk) the hold is simply opened. An empty handle,
// and the error in `error`, when another program got hold of the file for writing meanwhile.
UniqueHandle HoldCompleteDownload(UniqueHandle written, const std::wstring& path, DWORD* error);

enum class PayloadCheck {
    Good,      // a Windows program, with the configured digest and signer (where it has them)
    Again,     // it failed: it is deleted, fetch it once more from byte 0
    Rejected,  // a second complete download failed too: the download fails
};

// Checks a completely downloaded file, read through `file` (from HoldCompleteDownload): that it
// is a Windows program, then its digest when the item has one, then its signature when the item
// names trusted signers. Good leaves `file` open for the
// caller to keep; an empty `file` (it could not be held) fails. A file that fails is closed and
// deleted at once, so that nothing can start it, and the item is set to start again from 0.
PayloadCheck CheckDownloadedPayload(DownloadItem& item, UniqueHandle& file);

// Deletes the files that this run wrote and did not complete. Complete, checked files stay, and
// so do those a release run keeps with their records for the next run to continue.
void DeleteUnfinishedDownloads(const DownloadItem* items, size_t count);
