#include "download/payload_check.h"

#include <vector>

#include "support/installer_log.h"
#include "support/win32_handle.h"

bool DigestOfFile(const std::wstring& path, Sha256::Digest* digest)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid()) return false;
    Sha256 hash;
    std::vector<unsigned char> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return false;
        if (got == 0) break;
        hash.Update(buffer.data(), got);
    }
    *digest = hash.Finish();
    return true;
}

PayloadCheck CheckDownloadedPayload(DownloadItem& item)
{
    if (!item.hasSha256) return PayloadCheck::Good;
    InstallerLog* log = InstallerLog::Instance();
    Sha256::Digest actual{};
    // A file that cannot be read back cannot be vouched for: it counts as a mismatch.
    if (DigestOfFile(item.localPath, &actual) && actual == item.sha256) {
        if (log) log->WriteWide(L"Hash verified: " + item.localPath);
        return PayloadCheck::Good;
    }
    if (log) log->WriteWide(L"Hash mismatch: " + item.localPath);
    if (!DeleteFileW(item.localPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        // It cannot be removed: at least make sure it is not the program that gets started.
        UniqueHandle file(CreateFileW(item.localPath.c_str(), GENERIC_WRITE, 0, nullptr,
                                      TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (log && !file.Valid()) log->Write("ERROR: file that failed its hash could not be removed");
    }
    item.resumeOffset = 0;
    item.furthestOffset = 0;
    ++item.digestMismatches;
    return item.digestMismatches >= 2 ? PayloadCheck::Rejected : PayloadCheck::Again;
}
