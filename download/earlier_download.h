#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "download/portable/resume_record.h"
#include "prereq/portable/download_plan.h"
#include "support/win32_handle.h"

// A release run, whose downloads lie in its own folder, leaves a download it did not complete
// (failed, quit, killed or cut by a power loss) with a record beside it, and the next run asks
// only for the rest. A development run, whose downloads lie beside the exe, deletes them.
bool KeepsUnfinishedDownloads();

// The record of the download in progress, held open and rewritten in place after every write
// to the file, so that it never lags the file by more than the read in hand.
class ResumeRecordWriter {
public:
    ResumeRecordWriter() = default;
    ResumeRecordWriter(const ResumeRecordWriter&) = delete;
    ResumeRecordWriter& operator=(const ResumeRecordWriter&) = delete;
    ~ResumeRecordWriter() { Close(); }

    // A new record (in place of any earlier one) for `localPath`. False, with no record left,
    // when it cannot be written: the download then cannot be continued by another run.
    bool Start(const std::wstring& localPath, const ResumeRecord& record);
    bool Active() const { return m_file.Valid(); }
    const std::wstring& Path() const { return m_path; }
    void Update(uint32_t written);
    // Stops writing; the record stays for the next run.
    void Close();
    // Stops writing and deletes the record: the download is complete, or cannot be continued.
    void Remove();

private:
    UniqueHandle m_file;
    std::wstring m_path;
    std::string m_text;
    size_t m_writtenAt = 0;  // where the 10 digits of the written count stand in m_text
};

// Looks beside the item's file for a download an earlier run left. When there is one to continue,
// the file is cut to the bytes both it and its record vouch for, the item is set to resume there
// with the recorded validator, `totalLength` gets the recorded length, and it returns true. A
// record that cannot be read, or names another address, is deleted with its file (logged).
bool TakeEarlierDownload(DownloadItem& item, uint32_t* totalLength);

// Deletes an earlier download and its record, logging why.
void DiscardEarlierDownload(const std::wstring& localPath, const char* reason);

// Deletes the unfinished downloads of earlier runs, below `folder`, whose records are older than
// seven days.
void DeleteStaleDownloads(const std::wstring& folder);
