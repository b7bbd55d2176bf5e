#pragma once
#include <cstdint>
#include <string>

// The decisions behind the folder where an elevated release run works and the files it writes
// in the user's reach: which folders it trusts, what access it gives, which paths it checks and
// what environment its prerequisites get. The Windows side only gathers the facts.

// The working folder: Administrators and SYSTEM, nothing inherited, nobody else; owned by
// Administrators. What lies below inherits it.
extern const wchar_t kCleanRoomSddl[];

// A file of the user's that holds a secret: the user, Administrators and SYSTEM, nothing
// inherited. `userSid` in its string form; a user who is one of the other two is named once.
std::wstring UserFileSddl(const std::wstring& userSid);

// The file attributes as Windows gives them.
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeReparsePoint = 0x400;

enum class FolderVerdict { Usable, Link, NotAFolder, UntrustedOwner };

// A folder of the working folder's path. Only Administrators and SYSTEM may own it, or whoever
// owns the system's own folder: that owner can replace the system's programs anyway, so trusting
// it opens nothing. `ownerSid` is empty when the owner could not be read.
FolderVerdict JudgeFolder(uint32_t attributes, const std::wstring& ownerSid, const std::wstring& systemFolderOwnerSid);

// Why a folder is not used, for the log: "is a link", ...
const char* FolderVerdictText(FolderVerdict verdict);

// Length of the root of a full path: 3 for "C:\...", the "\\server\share\" part of a UNC path,
// with the "\\?\" forms alike; 0 for a path that is not full.
size_t PathRootLength(const std::wstring& path);

// Walks the folders of `path` that lie below its first `anchorLength` characters, from the top
// down, `path` itself included (it names a folder): each call moves `end` (0 at first) to where
// the next one ends, false when there is none. A path that does not go on at the anchor with a
// separator has none ("C:\Users\Bob2" is not below "C:\Users\Bob").
bool NextFolderBelow(const std::wstring& path, size_t anchorLength, size_t* end);

// Where, in a final path as GetFinalPathNameByHandleW gives it ("\\?\C:\..." or
// "\\?\UNC\server\..."; zero-terminated), the form a program is started by begins ("C:\..." or
// "\\server\..."). The UNC form is rewritten in place for it.
size_t DosFormOfFinalPath(wchar_t* finalPath);

// An environment block (NAME=value strings, each ended by a zero, the block by one more) with
// `name` set to `value`: replaced where the block has it (names compared without regard to
// ASCII case), else inserted where the block's order by upper-cased name puts it.
std::wstring WithVariable(const std::wstring& block, const std::wstring& name, const std::wstring& value);

// The name a folder that fails its check is moved to, beside it: "<path>.aside-<16 hex digits>".
std::wstring AsideName(const std::wstring& path, uint64_t stamp);
