#include "download/earlier_download.h"

#include "support/carried_inputs.h"
#include "support/installer_log.h"
#include "support/portable/decimal.h"

namespace {

constexpr DWORD kMaxRecordBytes = 8192;
constexpr ULONGLONG kSevenDays = 7ULL * 24 * 60 * 60 * 10000000;  // in 100 ns units
constexpr int kStaleSearchDepth = 4;

bool ReadRecordFile(const std::wstring& path, std::string* bytes)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxRecordBytes) return false;
    char buffer[kMaxRecordBytes];
    DWORD got = 0;
    if (!ReadFile(file.Get(), buffer, static_cast<DWORD>(size.QuadPart), &got, nullptr)) return false;
    bytes->assign(buffer, got);
    return true;
}

bool FileSize(const std::wstring& path, uint64_t* size)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

ULONGLONG AsNumber(const FILETIME& time) { return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

const wchar_t kRecordSuffix[] = L".resume";
constexpr size_t kRecordSuffixLength = sizeof kRecordSuffix / sizeof kRecordSuffix[0] - 1;

// `folder` is the path of the folder being searched; it is extended in place for what lies below.
void DeleteStaleBelow(std::wstring& folder, ULONGLONG now, int depth)
{
    const size_t length = folder.size();
    folder += L"\\*";
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(folder.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        folder.resize(length);
        return;
    }
    do {
        const wchar_t* name = found.cFileName;
        const size_t nameLength = lstrlenW(name);
        if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
        folder.resize(length + 1);
        folder += name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth > 1 && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) DeleteStaleBelow(folder, now, depth - 1);
        } else if (nameLength > kRecordSuffixLength &&
                   lstrcmpiW(name + nameLength - kRecordSuffixLength, kRecordSuffix) == 0 &&
                   now > AsNumber(found.ftLastWriteTime) + kSevenDays) {
            folder.resize(folder.size() - kRecordSuffixLength);
            DiscardEarlierDownload(folder, "it is older than seven days");
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    folder.resize(length);
}

}  // namespace

bool KeepsUnfinishedDownloads() { return CarriesInputs(); }

bool ResumeRecordWriter::Start(const std::wstring& localPath, const ResumeRecord& record)
{
    Close();
    m_path = ResumeRecordPath(localPath);
    if (m_path.size() >= MAX_PATH) {
        m_path.clear();
        return false;
    }
    try {
        m_text = FormatResumeRecord(record);
    } catch (...) {
        m_path.clear();
        return false;
    }
    m_writtenAt = m_text.size() - 12;  // the 10 digits before the closing CR LF
    // Nobody else writes it while this run does; readers (the test suite) may look.
    m_file.Reset(CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD done = 0;
    if (!m_file.Valid() || !WriteFile(m_file.Get(), m_text.data(), static_cast<DWORD>(m_text.size()), &done, nullptr) ||
        done != m_text.size()) {
        Remove();
        return false;
    }
    return true;
}

void ResumeRecordWriter::Update(uint32_t written)
{
    if (!m_file.Valid()) return;
    for (size_t i = 0; i < 10; ++i) {
        m_text[m_writtenAt + 9 - i] = static_cast<char>('0' + written % 10);
        written /= 10;
    }
    // One positioned write of the same length: the record is never longer or shorter on disk.
    OVERLAPPED at{};
    DWORD done = 0;
    if (!WriteFile(m_file.Get(), m_text.data(), static_cast<DWORD>(m_text.size()), &done, &at) || done != m_text.size())
        Remove();  // a record that cannot be kept true is no record
}

void ResumeRecordWriter::Close()
{
    m_file.Reset();
    m_path.clear();
}

void ResumeRecordWriter::Remove()
{
    m_file.Reset();
    if (!m_path.empty()) DeleteFileW(m_path.c_str());
    m_path.clear();
}

void DiscardEarlierDownload(const std::wstring& localPath, const char* reason)
{
    DeleteFileW(ResumeRecordPath(localPath).c_str());
    DeleteFileW(localPath.c_str());
    std::wstring line = L"Earlier download of ";
    line += localPath;
    line += L" discarded: ";
    while (*reason) line += static_cast<wchar_t>(*reason++);
    LogWide(line);
}

bool TakeEarlierDownload(DownloadItem& item, uint32_t* totalLength)
{
    const std::wstring recordPath = ResumeRecordPath(item.localPath);
    if (recordPath.size() >= MAX_PATH || GetFileAttributesW(recordPath.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    std::string bytes;
    ResumeRecord record;
    uint64_t onDisk = 0;
    if (!ReadRecordFile(recordPath, &bytes) || !ParseResumeRecord(bytes, &record)) {
        DiscardEarlierDownload(item.localPath, "its record cannot be read");
        return false;
    }
    if (record.address != item.url) {
        DiscardEarlierDownload(item.localPath, "its record is of another address");
        return false;
    }
    if (!FileSize(item.localPath, &onDisk)) {
        DiscardEarlierDownload(item.localPath, "its file is missing");
        return false;
    }
    // After a crash or a power loss either may be ahead of the other; only what both vouch for
    // is kept, and the rest is cut off when the file is opened to continue.
    const uint32_t offset = onDisk < record.written ? static_cast<uint32_t>(onDisk) : record.written;
    if (offset == 0) {
        DiscardEarlierDownload(item.localPath, "nothing of it was kept");
        return false;
    }
    item.resumeOffset = offset;
    item.furthestOffset = offset;
    item.validator = record.validator;
    item.continuingEarlier = true;
    *totalLength = record.totalLength;
    LogWide(L"Continuing earlier download of " + item.localPath + L" at " + WideDecimal(offset));
    return true;
}

void DeleteStaleDownloads(const std::wstring& folder)
{
    if (folder.empty()) return;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    std::wstring path = folder;
    DeleteStaleBelow(path, AsNumber(now), kStaleSearchDepth);
}
