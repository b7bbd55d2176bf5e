#pragma once
#include <string>
#include <vector>

#include "support/portable/sha256.h"
#include "support/portable/signer_pins.h"

// The values of "ConfigFile.txt", as the positional reader finds them. Every text is 8-bit,
// taken byte for byte; path fields already carry the start directory in front.
struct ConfigValues {
    std::vector<int> supportedOsVersions;  // field 1
    std::string dotNetFolder;              // field 2 (path)
    std::string dotNetFile;                // field 3 (path)
    std::string dotNetUrlHead;             // field 4
    std::string dotNetUrlTail;             // field 5
    std::string stage2File;                // field 6 (path)
    std::string stage2UrlHead;             // field 7
    std::string stage2UrlTail;             // field 8
    std::string msiFile;                   // field 9 (path)
    std::string msiUrlHead;                // field 10
    std::string msiUrlTail;                // field 11
    std::string language;                  // field 12

    // Optional fields 13 to 15 after the language: the SHA-256 of the Windows Installer update,
    // the .NET package and the second stage. A field that is absent or empty (white space
    // aside) names no digest; one that is not 64 hexadecimal digits sets badDigestField.
    bool hasMsiSha256 = false, hasDotNetSha256 = false, hasStage2Sha256 = false;
    Sha256::Digest msiSha256{}, dotNetSha256{}, stage2Sha256{};
    int badDigestField = 0;  // 13, 14 or 15: the first malformed digest field; 0 when none

    // Optional fields 16 to 18 after the digests: the trusted signers of the same three
    // packages, in the same order (see ParseSignerPins). Absent or blank: not checked; one that
    // does not read as pins sets badSignerField.
    SignerPins msiSigners, dotNetSigners, stage2Signers;
    int badSignerField = 0;  // 16, 17 or 18: the first malformed signer field; 0 when none
};

// The C library's atoi, with a defined result where atoi has none: leading white space
// skipped, an optional sign, decimal digits up to the first other character, 0 without digits;
// a value beyond the range of int is clamped to INT_MAX or INT_MIN.
int AsciiToInt(const std::string& text);

// Reads the twelve fields from the file's bytes. The text ends at the first NUL byte.
// Fields are separated by ";"; a field's value is what follows its first "=" (the whole field
// when it has none), with nothing trimmed. When no ";" is left, the field runs to the end of
// the text and the text is not consumed, so later fields read that same rest again.
// The digest fields are read only from text that follows the language field's own ";", so a
// file of twelve fields never yields a digest; each of them ends at the next ";" or at the end.
// The signer fields follow the digest fields by the same rules.
ConfigValues ParseConfigText(const std::string& bytes, const std::string& startDirectory);
