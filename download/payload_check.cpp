#include "download/payload_check.h"

#include <vector>

#include "download/earlier_download.h"
#include "download/portable/failure_text.h"
#include "download/portable/resume_record.h"
#include "download/portable/windows_program.h"
#include "download/signature_check.h"
#include "support/installer_log.h"

namespace {

bool ReadAt(HANDLE file, uint64_t offset, unsigned char* buffer, DWORD size, DWORD* got)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    *got = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buffer, size, got, nullptr);
}

bool DigestOfOpenFile(HANDLE file, Sha256::Digest* digest)
{
    Sha256 hash;
    std::vector<unsigned char> buffer(64 * 1024);
    DWORD got = 0;
    if (!ReadAt(file, 0, buffer.data(), static_cast<DWORD>(buffer.size()), &got)) return false;
    while (got > 0) {
        hash.Update(buffer.data(), got);
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
    }
    *digest = hash.Finish();
    return true;
}

bool IsWindowsProgram(HANDLE file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return false;
    unsigned char head[kDosHeaderSize];
    DWORD got = 0;
    uint64_t offset = 0;
    if (!ReadAt(file, 0, head, sizeof head, &got) ||
        !PeSignatureOffset(head, got, static_cast<uint64_t>(size.QuadPart), &offset))
        return false;
    unsigned char signature[kPeSignatureSize];
    return ReadAt(file, offset, signature, sizeof signature, &got) && IsPeSignature(signature, got);
}

}  // namespace

bool DigestOfFile(const std::wstring& path, Sha256::Digest* digest)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return file.Valid() && DigestOfOpenFile(file.Get(), digest);
}

UniqueHandle HoldCompleteDownload(UniqueHandle written, const std::wstring& path, DWORD* error)
{
    // No open can take away the write access of another handle, so the hold is made in two
    // steps. While the write handle still keeps out other writers, a bridge handle is opened
    // that tolerates it; from then on the file can neither be renamed nor deleted. Once the write
    // handle is closed, the hold itself is opened, which fails if a writer got in between.
    // Without a write handle (a file found complete on disk) the hold is opened at once.
    UniqueHandle bridge;
    if (written.Valid()) {
        bridge.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!bridge.Valid()) {
            *error = GetLastError();
            return UniqueHandle();
        }
    }
    written.Reset();
    UniqueHandle held(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!held.Valid()) *error = GetLastError();
    return held;
}

namespace {

// One line for the file at `path`: what happened, the path, and what follows it.
void LogPath(const wchar_t* what, const std::wstring& path, const std::wstring& after = std::wstring())
{
    std::wstring line(what);
    line += path;
    line += after;
    LogWide(line);
}

// The checks in order, each logging why it failed: a Windows program, its digest, its signer.
bool PassesChecks(const DownloadItem& item, const UniqueHandle& file)
{
    // A file that could not be held cannot be vouched for: it is not what would be started.
    if (!file.Valid()) return false;
    if (!IsWindowsProgram(file.Get())) {
        LogPath(L"Not a Windows program: ", item.localPath);
        return false;
    }
    if (item.hasSha256) {
        Sha256::Digest actual{};
        if (!DigestOfOpenFile(file.Get(), &actual) || actual != item.sha256) {
            LogPath(L"Hash mismatch: ", item.localPath);
            return false;
        }
        LogPath(L"Hash verified: ", item.localPath);
    }
    if (!item.signers.empty()) {
        const SignatureResult signature = CheckSignature(file.Get(), item.localPath, item.signers);
        if (signature.step == SignatureStep::Table) {
            LogPath(L"Signature area of ", item.localPath, L" holds extra bytes");
            return false;
        }
        if (signature.verdict == SignatureVerdict::Failed) {
            LogPath(L"Signature check failed: ", item.localPath, L" (error " + WideHex(signature.code) + L")");
            return false;
        }
        if (signature.verdict == SignatureVerdict::NotTrusted) {
            LogPath(L"Signer not trusted: ", item.localPath);
            return false;
        }
        if (signature.revocationNotChecked) LogPath(L"Revocation not checked for ", item.localPath);
        LogPath(L"Signer verified: ", item.localPath);
    }
    return true;
}

}  // namespace

PayloadCheck CheckDownloadedPayload(DownloadItem& item, UniqueHandle& file)
{
    if (PassesChecks(item, file)) return PayloadCheck::Good;
    // Our own handle would keep the file from being deleted.
    file.Reset();
    if (!DeleteFileW(item.localPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        // It cannot be removed: at least make sure it is not the program that gets started.
        UniqueHandle damaged(CreateFileW(item.localPath.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!damaged.Valid()) Log("ERROR: file that failed its check could not be removed");
    }
    item.resumeOffset = 0;
    item.furthestOffset = 0;
    ++item.failedChecks;
    return item.failedChecks >= 2 ? PayloadCheck::Rejected : PayloadCheck::Again;
}

void DeleteUnfinishedDownloads(const DownloadItem* items, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const DownloadItem& item = items[i];
        if (!item.createdByThisRun || item.complete) continue;
        if (item.keptForNextRun && KeepsUnfinishedDownloads() &&
            GetFileAttributesW(ResumeRecordPath(item.localPath).c_str()) != INVALID_FILE_ATTRIBUTES) {
            LogWide(L"Kept incomplete download for the next run: " + item.localPath);
            continue;
        }
        if (DeleteFileW(item.localPath.c_str())) LogWide(L"Removed incomplete download: " + item.localPath);
    }
}
