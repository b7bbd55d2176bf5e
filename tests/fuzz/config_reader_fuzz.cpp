// libFuzzer target: any bytes as "ConfigFile.txt". Besides the sanitizers, it checks what every
// caller relies on: twelve fields always come out, path fields keep the start directory in
// front, the version list has one entry per comma plus one, and a digest or a signer list is
// either well formed or reported.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/portable/config_reader.h"

namespace {
void Require(bool condition)
{
    if (!condition) std::abort();
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The reader is given at most 4096 bytes; larger files are refused before parsing.
    if (size > 4096) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string directory = "C:\\Setup";
    const ConfigValues v = ParseConfigText(bytes, directory);

    Require(StartsWith(v.dotNetFolder, directory) && StartsWith(v.dotNetFile, directory) &&
            StartsWith(v.stage2File, directory) && StartsWith(v.msiFile, directory));
    const std::string text = bytes.substr(0, bytes.find('\0'));
    Require(v.language.size() <= text.size());
    for (const std::string* value : {&v.dotNetUrlHead, &v.stage2UrlTail, &v.msiUrlTail, &v.language})
        Require(value->find(';') == std::string::npos);

    size_t commas = 0;
    const size_t end = text.find(';');
    const std::string first = text.substr(0, end);
    const size_t equals = first.find('=');
    const std::string versions = equals == std::string::npos ? first : first.substr(equals + 1);
    for (char c : versions) commas += c == ',';
    Require(v.supportedOsVersions.size() == commas + 1);

    Require(v.badDigestField == 0 || (v.badDigestField >= 13 && v.badDigestField <= 15));
    if (v.hasMsiSha256 || v.hasDotNetSha256 || v.hasStage2Sha256) {
        // A digest can only come from text after the language field's own ";".
        Require(text.find(';') != std::string::npos);
    }
    Require(v.badSignerField == 0 || (v.badSignerField >= 16 && v.badSignerField <= 18));
    for (const SignerPins* pins : {&v.msiSigners, &v.dotNetSigners, &v.stage2Signers}) {
        // Signers, too, come only from text after the digests' own ";", and a field that was
        // refused names none.
        Require(pins->empty() || text.find(';') != std::string::npos);
    }
    if (v.badSignerField == 16) Require(v.msiSigners.empty());
    if (v.badSignerField == 17) Require(v.dotNetSigners.empty());
    if (v.badSignerField == 18) Require(v.stage2Signers.empty());
    return 0;
}
