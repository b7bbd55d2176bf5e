#include "support/portable/clean_room_rules.h"

const wchar_t kCleanRoomSddl[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

namespace {

const wchar_t kAdministrators[] = L"S-1-5-32-544";
const wchar_t kSystem[] = L"S-1-5-18";

wchar_t UpperAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// <0, 0, >0 as `a` sorts before, with or after `b`, by upper-cased characters: 0 for the same
// text without regard to ASCII case.
int CompareUpper(const wchar_t* a, size_t aLength, const std::wstring& b)
{
    const size_t common = aLength < b.size() ? aLength : b.size();
    for (size_t i = 0; i < common; ++i) {
        const wchar_t x = UpperAscii(a[i]), y = UpperAscii(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return aLength == b.size() ? 0 : (aLength < b.size() ? -1 : 1);
}

bool SameAsciiNoCase(const std::wstring& a, const std::wstring& b) { return CompareUpper(a.data(), a.size(), b) == 0; }

// After "\\server\share\" (or at its end): the server and the share are one root together.
size_t UncRootLength(const std::wstring& path, size_t serverAt)
{
    const size_t serverEnd = path.find(L'\\', serverAt);
    if (serverEnd == std::wstring::npos || serverEnd == serverAt) return 0;
    const size_t shareEnd = path.find(L'\\', serverEnd + 1);
    if (shareEnd == serverEnd + 1) return 0;
    return shareEnd == std::wstring::npos ? path.size() : shareEnd + 1;
}

bool IsDriveRoot(const std::wstring& path, size_t at)
{
    if (path.size() < at + 3) return false;
    const wchar_t letter = UpperAscii(path[at]);
    return letter >= L'A' && letter <= L'Z' && path[at + 1] == L':' && path[at + 2] == L'\\';
}

}  // namespace

std::wstring UserFileSddl(const std::wstring& userSid)
{
    std::wstring sddl = L"D:P";
    if (!SameAsciiNoCase(userSid, kAdministrators) && !SameAsciiNoCase(userSid, kSystem)) {
        sddl += L"(A;;FA;;;";
        sddl += userSid;
        sddl += L')';
    }
    sddl += L"(A;;FA;;;BA)(A;;FA;;;SY)";
    return sddl;
}

FolderVerdict JudgeFolder(uint32_t attributes, const std::wstring& ownerSid, const std::wstring& systemFolderOwnerSid)
{
    if (attributes & kAttributeReparsePoint) return FolderVerdict::Link;
    if (!(attributes & kAttributeDirectory)) return FolderVerdict::NotAFolder;
    if (SameAsciiNoCase(ownerSid, kAdministrators) || SameAsciiNoCase(ownerSid, kSystem)) return FolderVerdict::Usable;
    if (!ownerSid.empty() && SameAsciiNoCase(ownerSid, systemFolderOwnerSid)) return FolderVerdict::Usable;
    return FolderVerdict::UntrustedOwner;
}

const char* FolderVerdictText(FolderVerdict verdict)
{
    switch (verdict) {
    case FolderVerdict::Usable: return "is usable";
    case FolderVerdict::Link: return "is a link";
    case FolderVerdict::NotAFolder: return "is not a folder";
    case FolderVerdict::UntrustedOwner: return "is owned by neither Administrators nor SYSTEM";
    }
    return "cannot be judged";
}

size_t PathRootLength(const std::wstring& path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return UncRootLength(path, 8);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return IsDriveRoot(path, 4) ? 7 : 0;
    if (path.compare(0, 2, L"\\\\") == 0) return UncRootLength(path, 2);
    return IsDriveRoot(path, 0) ? 3 : 0;
}

bool NextFolderBelow(const std::wstring& path, size_t anchorLength, size_t* end)
{
    if (anchorLength == 0 || anchorLength > path.size()) return false;
    size_t at = *end;
    if (at == 0) {
        at = anchorLength;
        if (path[at - 1] != L'\\') {
            if (at == path.size() || path[at] != L'\\') return false;
            ++at;
        }
    } else {
        ++at;  // past the separator that ended the last one
    }
    while (at < path.size() && path[at] == L'\\') ++at;
    if (at >= path.size()) return false;
    const size_t next = path.find(L'\\', at);
    *end = next == std::wstring::npos ? path.size() : next;
    return true;
}

size_t DosFormOfFinalPath(wchar_t* finalPath)
{
    if (finalPath[0] != L'\\' || finalPath[1] != L'\\' || finalPath[2] != L'?' || finalPath[3] != L'\\') return 0;
    if (finalPath[4] == L'U' && finalPath[5] == L'N' && finalPath[6] == L'C' && finalPath[7] == L'\\') {
        finalPath[6] = L'\\';  // "\\?\UN\\server...": from 6 on, "\\server..."
        return 6;
    }
    return 4;
}

std::wstring WithVariable(const std::wstring& block, const std::wstring& name, const std::wstring& value)
{
    std::wstring out;
    bool placed = false;
    const auto place = [&] {
        out += name;
        out += L'=';
        out += value;
        out += L'\0';
        placed = true;
    };
    for (size_t at = 0; at < block.size() && block[at] != L'\0';) {
        size_t end = block.find(L'\0', at);
        if (end == std::wstring::npos) end = block.size();
        // The drive entries ("=C:=C:\...") keep their leading '=' in their name.
        size_t equals = block.find(L'=', at + 1);
        if (equals > end) equals = end;
        const int order = CompareUpper(block.data() + at, equals - at, name);
        if (order >= 0 && !placed) place();
        if (order != 0) {
            out.append(block, at, end - at);
            out += L'\0';
        }
        at = end + 1;
    }
    if (!placed) place();
    out += L'\0';
    return out;
}

std::wstring AsideName(const std::wstring& path, uint64_t stamp)
{
    std::wstring name = path + L".aside-";
    for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789ABCDEF"[(stamp >> shift) & 15];
    return name;
}
