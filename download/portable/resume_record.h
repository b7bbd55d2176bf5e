#pragma once
#include <cstdint>
#include <string>

// A release run leaves a download it did not complete where it was, with a small record of our
// own beside it, so that the next run asks only for the rest, and only if the server proves the
// file unchanged.
struct ResumeRecord {
    std::wstring address;    // the URL the bytes came from
    uint32_t totalLength = 0;
    std::wstring validator;  // what If-Range carries: a strong ETag, else Last-Modified
    uint32_t written = 0;    // bytes known to be in the file
};

// The record's bytes: ASCII lines, every character outside printable ASCII (and '\') written as
// \uXXXX, the written count always in 10 digits, so that rewriting the record as the download
// moves keeps its length and needs one write.
std::string FormatResumeRecord(const ResumeRecord& record);

// False for anything that is not exactly what FormatResumeRecord writes: another layout, a
// length of 0 or beyond 2 GiB, more written than the length, a validator that cannot go into a
// header, text after the end.
bool ParseResumeRecord(const std::string& bytes, ResumeRecord* record);

// The validator a resume may carry in If-Range: the ETag when it is strong (a weak one, "W/...",
// cannot validate a byte range), else the Last-Modified date; empty when neither is usable.
std::wstring ChooseValidator(const std::wstring& etag, const std::wstring& lastModified);

// "If-Range: <validator>\r\n"; empty for an empty validator.
std::wstring MakeIfRangeHeader(const std::wstring& validator);

// The records kept beside their downloads: "<file>.resume".
std::wstring ResumeRecordPath(const std::wstring& localPath);
