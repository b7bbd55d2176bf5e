#pragma once
#include <string>
#include <vector>

// The settings of "ConfigFile.txt" as process globals: empty until ReadConfigFile, fixed after.
namespace InstallerConfig {
extern std::wstring StartDirectory;   // current directory when the file was read
extern std::string StartDirectoryA;   // its 8-bit form, the prefix of every path below
extern std::vector<int> SupportedOsVersions;
extern std::string DotNetFolder, DotNetFile, DotNetUrlHead, DotNetUrlTail;
extern std::string Stage2File, Stage2UrlHead, Stage2UrlTail;
extern std::string MsiFile, MsiUrlHead, MsiUrlTail;
extern std::string Language;          // as written in the file; the text table keeps its own
}  // namespace InstallerConfig

// Reads "ConfigFile.txt" from the current directory into the globals and creates the text table
// for the configured language. A missing, unreadable or over-long file reads as empty text
// (which no Windows version passes); one log line says which it was.
void ReadConfigFile();
