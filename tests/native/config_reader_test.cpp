#include <gtest/gtest.h>

#include <climits>

#include "support/portable/config_reader.h"

namespace {

const char kDir[] = "C:\\Setup";

// Twelve fields, each ending with ";" and a line break, as the shipped sample is written.
const char kTypical[] =
    "OS=510,600,610;\r\n"
    "DotNetFolder=\\dotnet;\r\n"
    "DotNetFile=\\dotnet\\dotnetfx.exe;\r\n"
    "DotNetUrlHead=http://download.tarvelo.com/;\r\n"
    "DotNetUrlTail=dotnetfx.exe;\r\n"
    "Stage2File=\\Stage2.exe;\r\n"
    "Stage2UrlHead=http://download.tarvelo.com/;\r\n"
    "Stage2UrlTail=stage2.exe;\r\n"
    "MsiFile=\\msi.exe;\r\n"
    "MsiUrlHead=http://download.tarvelo.com/;\r\n"
    "MsiUrlTail=msi.exe;\r\n"
    "Language=en-GB;\r\n";

TEST(ConfigReader, LineBreaksFallIntoTheIgnoredNamesAndValuesAreExact)
{
    const ConfigValues v = ParseConfigText(kTypical, kDir);
    EXPECT_EQ(v.supportedOsVersions, (std::vector<int>{510, 600, 610}));
    EXPECT_EQ(v.dotNetFolder, "C:\\Setup\\dotnet");
    EXPECT_EQ(v.dotNetFile, "C:\\Setup\\dotnet\\dotnetfx.exe");
    EXPECT_EQ(v.dotNetUrlHead, "http://download.tarvelo.com/");
    EXPECT_EQ(v.dotNetUrlTail, "dotnetfx.exe");
    EXPECT_EQ(v.stage2File, "C:\\Setup\\Stage2.exe");
    EXPECT_EQ(v.stage2UrlHead, "http://download.tarvelo.com/");
    EXPECT_EQ(v.stage2UrlTail, "stage2.exe");
    EXPECT_EQ(v.msiFile, "C:\\Setup\\msi.exe");
    EXPECT_EQ(v.msiUrlHead, "http://download.tarvelo.com/");
    EXPECT_EQ(v.msiUrlTail, "msi.exe");
    EXPECT_EQ(v.language, "en-GB");
}

TEST(ConfigReader, NothingIsTrimmedAndOnlyTheFirstEqualsSplits)
{
    const ConfigValues v = ParseConfigText(
        "a= 600 ;b=x;c=\tc=d;d= head ;e=tail\n;f=noslash;g;h=;i=;j=;k=;l= en-GB ;", kDir);
    EXPECT_EQ(v.supportedOsVersions, std::vector<int>{600});  // atoi skips the space
    EXPECT_EQ(v.dotNetFolder, "C:\\Setupx");                  // glued onto the last folder name
    EXPECT_EQ(v.dotNetFile, "C:\\Setup\tc=d");
    EXPECT_EQ(v.dotNetUrlHead, " head ");
    EXPECT_EQ(v.dotNetUrlTail, "tail\n");
    EXPECT_EQ(v.stage2File, "C:\\Setupnoslash");
    EXPECT_EQ(v.stage2UrlHead, "g");  // a field without "=" is its own value
    EXPECT_EQ(v.stage2UrlTail, "");
    EXPECT_EQ(v.msiFile, "C:\\Setup");
    EXPECT_EQ(v.language, " en-GB ");
}

TEST(ConfigReader, LastFieldWithoutSeparatorKeepsItsLineBreak)
{
    std::string text = kTypical;
    text.replace(text.rfind(";\r\n"), 3, "\r\n");
    EXPECT_EQ(ParseConfigText(text, kDir).language, "en-GB\r\n");
}

TEST(ConfigReader, FieldsAfterTheLastSeparatorReadTheSameRestAgain)
{
    const ConfigValues v = ParseConfigText("OS=600;Folder=\\f;rest=tail", kDir);
    EXPECT_EQ(v.dotNetFolder, "C:\\Setup\\f");
    EXPECT_EQ(v.dotNetFile, "C:\\Setuptail");
    EXPECT_EQ(v.dotNetUrlHead, "tail");
    EXPECT_EQ(v.msiUrlTail, "tail");
    EXPECT_EQ(v.language, "tail");
}

TEST(ConfigReader, EmptyOrVersionlessTextGivesOneZeroEntry)
{
    const ConfigValues empty = ParseConfigText("", kDir);
    EXPECT_EQ(empty.supportedOsVersions, std::vector<int>{0});
    EXPECT_EQ(empty.dotNetFile, kDir);
    EXPECT_EQ(empty.language, "");
    EXPECT_EQ(ParseConfigText("OS=;", kDir).supportedOsVersions, std::vector<int>{0});
}

TEST(ConfigReader, VersionListEntriesGoThroughAtoi)
{
    const ConfigValues v = ParseConfigText("OS=510, 512,600x,,-7,+9,abc, 630\r\n;", kDir);
    EXPECT_EQ(v.supportedOsVersions, (std::vector<int>{510, 512, 600, 0, -7, 9, 0, 630}));
    // A trailing comma still counts as one more, empty, entry.
    EXPECT_EQ(ParseConfigText("OS=600,;", kDir).supportedOsVersions, (std::vector<int>{600, 0}));
}

TEST(ConfigReader, TextEndsAtTheFirstNulByte)
{
    const std::string bytes("OS=600;a=\\x\0;b=\\y;", 19);
    const ConfigValues v = ParseConfigText(bytes, kDir);
    EXPECT_EQ(v.dotNetFolder, "C:\\Setup\\x");
    EXPECT_EQ(v.dotNetFile, "C:\\Setup\\x");  // nothing left: the same rest again
}

TEST(ConfigReader, BytesAreTakenAsTheyAre)
{
    const ConfigValues v = ParseConfigText("\xEF\xBB\xBFOS=600;a=\\caf\xE9;", "D:\\\xC4");
    EXPECT_EQ(v.supportedOsVersions, std::vector<int>{600});  // the mark sits in the name
    EXPECT_EQ(v.dotNetFolder, "D:\\\xC4\\caf\xE9");
}

TEST(AsciiToInt, FollowsTheCLibraryAndClampsOutOfRange)
{
    EXPECT_EQ(AsciiToInt(" \t\n\v\f\r42"), 42);
    EXPECT_EQ(AsciiToInt("-0012ab"), -12);
    EXPECT_EQ(AsciiToInt("+-3"), 0);
    EXPECT_EQ(AsciiToInt("- 3"), 0);
    EXPECT_EQ(AsciiToInt(""), 0);
    EXPECT_EQ(AsciiToInt("2147483647"), INT_MAX);
    EXPECT_EQ(AsciiToInt("-2147483648"), INT_MIN);
    EXPECT_EQ(AsciiToInt("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(AsciiToInt("-99999999999999999999999"), INT_MIN);
}

// Digest fields 13 to 15, after the language.
const char kMsiHex[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kDotNetHex[] = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
const char kStage2Hex[] = "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";

TEST(ConfigReaderDigests, TwelveFieldsNameNoDigestWhateverFollowsTheLanguage)
{
    std::string withoutSeparator = kTypical;
    withoutSeparator.replace(withoutSeparator.rfind(";\r\n"), 3, "\r\n");
    for (const std::string& text : {std::string(kTypical), withoutSeparator,
                                    std::string(kTypical) + "\r\n\r\n"}) {
        const ConfigValues v = ParseConfigText(text, kDir);
        EXPECT_FALSE(v.hasMsiSha256 || v.hasDotNetSha256 || v.hasStage2Sha256);
        EXPECT_EQ(v.badDigestField, 0);
    }
    // A language without ";" runs to the end, a digest-like text included: still no digest.
    const ConfigValues v = ParseConfigText(std::string("OS=600;a;b;c;d;e;f;g;h;i;j;Language=en-GB") +
                                               kMsiHex, kDir);
    EXPECT_FALSE(v.hasMsiSha256);
    EXPECT_EQ(v.badDigestField, 0);
}

TEST(ConfigReaderDigests, DigestsArePositionalTrimmedAndOfEitherCase)
{
    const std::string text = std::string(kTypical) + "MsiSha256=" + kMsiHex + ";\r\nDotNetSha256= " +
                             kDotNetHex + "\t;\r\nStage2Sha256=" + kStage2Hex + "\r\n";
    const ConfigValues v = ParseConfigText(text, kDir);
    EXPECT_EQ(v.language, "en-GB");
    ASSERT_TRUE(v.hasMsiSha256 && v.hasDotNetSha256 && v.hasStage2Sha256);
    EXPECT_EQ(DigestToHex(v.msiSha256), kMsiHex);
    EXPECT_EQ(DigestToHex(v.dotNetSha256), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(DigestToHex(v.stage2Sha256), kStage2Hex);
    EXPECT_EQ(v.badDigestField, 0);
}

TEST(ConfigReaderDigests, EmptyFieldsSkipAPackageAndALastFieldIsNeverRepeated)
{
    // Only the second stage is checked.
    const ConfigValues only = ParseConfigText(std::string(kTypical) + "m=;d=;s=" + kStage2Hex + ";", kDir);
    EXPECT_FALSE(only.hasMsiSha256 || only.hasDotNetSha256);
    EXPECT_TRUE(only.hasStage2Sha256);
    // A first digest without ";" belongs to the Windows Installer update alone.
    const ConfigValues first = ParseConfigText(std::string(kTypical) + "m=" + kMsiHex, kDir);
    EXPECT_TRUE(first.hasMsiSha256);
    EXPECT_FALSE(first.hasDotNetSha256 || first.hasStage2Sha256);
    // Text after the eighteenth field is not read.
    const ConfigValues extra = ParseConfigText(std::string(kTypical) + ";;;;;;comment", kDir);
    EXPECT_EQ(extra.badDigestField, 0);
    EXPECT_EQ(extra.badSignerField, 0);
}

TEST(ConfigReaderDigests, MalformedDigestIsReportedNotTakenAsNone)
{
    const std::string hex = kMsiHex;
    const std::string bad[] = {hex.substr(0, 63), hex + "0", "z" + hex.substr(1),
                               hex.substr(0, 32) + " " + hex.substr(32), "sha256:" + hex, "yes"};
    for (const std::string& value : bad) {
        const ConfigValues v = ParseConfigText(std::string(kTypical) + "m=;d=" + value + ";s=" + kStage2Hex + ";", kDir);
        EXPECT_EQ(v.badDigestField, 14) << value;
        EXPECT_FALSE(v.hasDotNetSha256) << value;
    }
    const ConfigValues two = ParseConfigText(std::string(kTypical) + "m=x;d=y;s=z;", kDir);
    EXPECT_EQ(two.badDigestField, 13);  // the first one is named
}

// Signer fields 16 to 18, after the digests.
const char kPinA[] = "234a18bf6dff86fdbd7959cb1701bcfa2698640f1572b4939e4237d03e71b984";
const char kPinB[] = "0000000000000000000000000000000000000000000000000000000000000001";

TEST(ConfigReaderSigners, FilesOfTwelveOrFifteenFieldsNameNoSigners)
{
    const std::string digests = std::string("m=;d=;s=") + kStage2Hex + ";\r\n";
    for (const std::string& text : {std::string(kTypical), std::string(kTypical) + digests,
                                    std::string(kTypical) + "m=;d=;s=" + kStage2Hex}) {
        const ConfigValues v = ParseConfigText(text, kDir);
        EXPECT_TRUE(v.msiSigners.empty() && v.dotNetSigners.empty() && v.stage2Signers.empty()) << text;
        EXPECT_EQ(v.badSignerField, 0) << text;
    }
    // Signers written after the last digest without its ";" run into that digest, which then
    // reads as malformed: the file is refused, never read as a digest without its signers.
    const ConfigValues v = ParseConfigText(std::string(kTypical) + "m=;d=;s=" + kStage2Hex + "\r\n" + kPinA, kDir);
    EXPECT_EQ(v.badDigestField, 15);
    EXPECT_TRUE(v.stage2Signers.empty());
}

TEST(ConfigReaderSigners, EachPackageGetsItsOwnListAndALastFieldIsNeverRepeated)
{
    const std::string text = std::string(kTypical) + "m=;d=;s=;\r\nMsiSigners=" + kPinA +
                             ";\r\nDotNetSigners=;\r\nStage2Signers= " + kPinB + " , " + kPinA + "\r\n";
    const ConfigValues v = ParseConfigText(text, kDir);
    ASSERT_EQ(v.msiSigners.size(), 1u);
    EXPECT_EQ(DigestToHex(v.msiSigners[0]), kPinA);
    EXPECT_TRUE(v.dotNetSigners.empty());
    ASSERT_EQ(v.stage2Signers.size(), 2u);
    EXPECT_EQ(DigestToHex(v.stage2Signers[0]), kPinB);
    EXPECT_EQ(DigestToHex(v.stage2Signers[1]), kPinA);
    EXPECT_FALSE(v.hasMsiSha256 || v.hasDotNetSha256 || v.hasStage2Sha256);
    EXPECT_EQ(v.badSignerField, 0);
    // The first signer field without ";" belongs to the Windows Installer update alone.
    const ConfigValues first = ParseConfigText(std::string(kTypical) + ";;;" + kPinA, kDir);
    EXPECT_EQ(first.msiSigners.size(), 1u);
    EXPECT_TRUE(first.dotNetSigners.empty() && first.stage2Signers.empty());
}

TEST(ConfigReaderSigners, MalformedSignersAreReportedNotTakenAsNone)
{
    for (const std::string& value : {std::string(kPinA) + ",", std::string(kPinA).substr(1), std::string("yes")}) {
        const ConfigValues v = ParseConfigText(std::string(kTypical) + ";;;;d=" + value + ";s=" + kPinA + ";", kDir);
        EXPECT_EQ(v.badSignerField, 17) << value;
        EXPECT_TRUE(v.dotNetSigners.empty()) << value;
        EXPECT_EQ(v.badDigestField, 0) << value;
    }
    const ConfigValues two = ParseConfigText(std::string(kTypical) + ";;;m=x;d=y;s=z;", kDir);
    EXPECT_EQ(two.badSignerField, 16);  // the first one is named
}

}  // namespace
