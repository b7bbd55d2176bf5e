#pragma once
#include <string>
#include <vector>

#include "support/portable/sha256.h"
#include "support/portable/signer_pins.h"

// The settings of "ConfigFile.txt" as process globals: empty until ReadConfigFile, fixed after.
namespace InstallerConfig {
// The folder the configuration's paths are taken below: the current directory when the file was
// read, or for an exe that carries its configuration the clean room "%ProgramData%\Tarvelo\Setup"
// (support/clean_room.h), empty when that cannot be used.
extern std::wstring StartDirectory;
extern std::string StartDirectoryA;   // its 8-bit form, the prefix of the 8-bit paths below
extern std::vector<int> SupportedOsVersions;
extern std::string DotNetFolder, DotNetFile, DotNetUrlHead, DotNetUrlTail;
extern std::string Stage2File, Stage2UrlHead, Stage2UrlTail;
extern std::string MsiFile, MsiUrlHead, MsiUrlTail;
// The four paths as files are opened and programs started: the wide start directory followed
// by the value converted with the system's ANSI code page. A folder whose name has no 8-bit
// form (Cyrillic under an English system, say) stays exact here; the 8-bit forms above do not.
extern std::wstring DotNetFolderW, DotNetFileW, Stage2FileW, MsiFileW;
extern std::string Language;          // as written in the file; the text table keeps its own
// Digests the downloaded packages must have; a package without one is not checked.
extern bool HasMsiSha256, HasDotNetSha256, HasStage2Sha256;
extern Sha256::Digest MsiSha256, DotNetSha256, Stage2Sha256;
// The publishers whose signature each package must carry; none: its signature is not checked.
extern SignerPins MsiSigners, DotNetSigners, Stage2Signers;
}  // namespace InstallerConfig

// Reads "ConfigFile.txt" (from the current directory, or the copy that a release exe carries)
// into the globals and creates the text table
// for the configured language. A missing, unreadable or over-long file reads as empty text
// (which no Windows version passes); one log line says which it was. A malformed digest or
// signer field makes the whole file unusable in the same way: a package is never taken
// unchecked because its digest or its signers were mistyped.
void ReadConfigFile();
