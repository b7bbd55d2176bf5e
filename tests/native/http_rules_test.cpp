#include <gtest/gtest.h>

#include "download/portable/http_rules.h"
#include "prereq/portable/installer_commands.h"

TEST(AcceptTypes, SplitsAtBothSeparatorsDropsEmptiesKeepsBlanks)
{
    EXPECT_EQ(SplitAcceptTypes(L"text/html;;*/*"), (std::vector<std::wstring>{L"text/html", L"*/*"}));
    EXPECT_TRUE(SplitAcceptTypes(L"").empty());
    EXPECT_TRUE(SplitAcceptTypes(L",;,").empty());
    EXPECT_EQ(SplitAcceptTypes(L"a, b;c,"), (std::vector<std::wstring>{L"a", L" b", L"c"}));
}

TEST(RangeHeader, EmptyFromZeroOtherwiseLastByteOfFile)
{
    EXPECT_EQ(MakeRangeHeader(0, 5000), L"");
    EXPECT_EQ(MakeRangeHeader(1000, 5000), L"Range: bytes=1000-4999\r\n");
    EXPECT_EQ(MakeRangeHeader(300000, 1000000), L"Range: bytes=300000-999999\r\n");
    EXPECT_EQ(MakeRangeHeader(1, 0x7FFFFFFF), L"Range: bytes=1-2147483646\r\n");
}

TEST(RequestFlags, SecureOnlyForHttps)
{
    EXPECT_EQ(RequestFlagsFor(true), 0x800100u);
    EXPECT_EQ(RequestFlagsFor(false), 0x100u);
}

TEST(AuthScheme, StrongestOfferedWins)
{
    EXPECT_EQ(ChooseScheme(0x3), kSchemeNtlm);
    EXPECT_EQ(ChooseScheme(0x9), kSchemeDigest);
    EXPECT_EQ(ChooseScheme(0x1), kSchemeBasic);
    EXPECT_EQ(ChooseScheme(0x20), 0u);
    EXPECT_EQ(ChooseScheme(0), 0u);
    EXPECT_EQ(ChooseScheme(0x1F), kSchemeNegotiate);
    EXPECT_EQ(ChooseScheme(0x5), kSchemePassport);
}

TEST(ProxyText, TrimmingAndPrefixRules)
{
    EXPECT_EQ(WithHttpPrefix(TrimWhiteSpace(L"  proxy.example \t")) + L":" + TrimWhiteSpace(L" 8080 "),
              L"http://proxy.example:8080");
    EXPECT_EQ(WithHttpPrefix(L"http://proxy.example"), L"http://proxy.example");
    EXPECT_EQ(WithHttpPrefix(L"my.http://odd"), L"my.http://odd");
    EXPECT_EQ(WithHttpPrefix(L""), L"http://");
    EXPECT_EQ(TrimWhiteSpace(L" \r\n\t "), L"");
    // The empty answer is the one proxy that is never saved.
    EXPECT_FALSE(IsSavableProxy(WithHttpPrefix(TrimWhiteSpace(L" ")) + L":" + TrimWhiteSpace(L"")));
    EXPECT_TRUE(IsSavableProxy(L"http://:8080"));
    EXPECT_TRUE(IsSavableProxy(L"http://p:"));
}

TEST(ProxyText, SessionNameDropsOnlyALeadingScheme)
{
    EXPECT_EQ(ProxyNameForSession(L"http://127.0.0.1:3128"), L"127.0.0.1:3128");
    EXPECT_EQ(ProxyNameForSession(L"HTTP://p:1"), L"p:1");
    EXPECT_EQ(ProxyNameForSession(L"p:1"), L"p:1");
    EXPECT_EQ(ProxyNameForSession(L"my.http://odd"), L"my.http://odd");
}

TEST(ProxyText, BrowserConfiguration)
{
    EXPECT_EQ(BrowserProxyFromConfig(L"p1:8080"), L"http://p1:8080");
    EXPECT_EQ(BrowserProxyFromConfig(L"http://p1:8080"), L"http://p1:8080");
    EXPECT_EQ(BrowserProxyFromConfig(L""), L"");
    EXPECT_EQ(BrowserProxyFromConfig(L"http=p1:8080;https=p2:8443"), L"http://p1:8080");
    EXPECT_EQ(BrowserProxyFromConfig(L"https=p2:8443;HTTP=http://p1:8080"), L"http://p1:8080");
    EXPECT_EQ(BrowserProxyFromConfig(L"https=p2:8443 ftp=p3:21"), L"");
}

TEST(ProxyFile, PiecesAreTheExactText)
{
    EXPECT_EQ(ProxyServerPiece(L"http://p:8080"), L"ProxyServer=http://p:8080|@|");
    EXPECT_EQ(ProxyCredentialsPiece(L"alice", L"s3cret"),
              L"UserName=alice|@|Password=s3cret|@|ByPass=<local>");
    EXPECT_EQ(ProxyCredentialsPiece(L"", L""), L"UserName=|@|Password=|@|ByPass=<local>");
}

TEST(VendorHost, OnlyTheDomainAndItsSubdomains)
{
    EXPECT_TRUE(IsVendorHost(L"tarvelo.com"));
    EXPECT_TRUE(IsVendorHost(L"dl.tarvelo.com"));
    EXPECT_TRUE(IsVendorHost(L"A.B.TarVelo.COM"));
    EXPECT_FALSE(IsVendorHost(L"eviltarvelo.com"));
    EXPECT_FALSE(IsVendorHost(L".tarvelo.com"));
    EXPECT_FALSE(IsVendorHost(L"tarvelo.com.evil.example"));
    EXPECT_FALSE(IsVendorHost(L"evil.example"));
    EXPECT_FALSE(IsVendorHost(L""));
    EXPECT_FALSE(IsVendorHost(L"arvelo.com"));
}

TEST(Headers, ContentLengthAndRange)
{
    uint64_t v = 0, first = 0, total = 0;
    EXPECT_TRUE(ParseContentLength(L" 1000000 ", &v));
    EXPECT_EQ(v, 1000000u);
    EXPECT_TRUE(ParseContentLength(L"4294967296", &v));
    EXPECT_GT(v, kMaxFileLength);
    EXPECT_FALSE(ParseContentLength(L"", &v));
    EXPECT_FALSE(ParseContentLength(L"12a", &v));
    EXPECT_FALSE(ParseContentLength(L"-1", &v));
    EXPECT_FALSE(ParseContentLength(L"99999999999999999999999", &v));

    EXPECT_TRUE(ParseContentRange(L"bytes 300000-999999/1000000", &first, &total));
    EXPECT_EQ(first, 300000u);
    EXPECT_EQ(total, 1000000u);
    EXPECT_TRUE(ParseContentRange(L"bytes 0-9/*", &first, &total));
    EXPECT_EQ(total, 0u);
    EXPECT_FALSE(ParseContentRange(L"bytes */1000", &first, &total));
    EXPECT_FALSE(ParseContentRange(L"bytes 9-1/10", &first, &total));
    EXPECT_FALSE(ParseContentRange(L"items 0-1/2", &first, &total));
}

// The resume of a 1,000,000-byte file at 300,000, answered in every way a server may answer.
ResumeFacts Resume(uint32_t status)
{
    ResumeFacts f;
    f.status = status;
    f.resumeOffset = 300000;
    f.knownTotal = 1000000;
    return f;
}

ResumeFacts WithRange(ResumeFacts f, uint64_t first, uint64_t total)
{
    f.hasRange = true;
    f.rangeFirst = first;
    f.rangeTotal = total;
    return f;
}

ResumeFacts WithLength(ResumeFacts f, uint64_t length)
{
    f.hasLength = true;
    f.length = length;
    return f;
}

TEST(ResumeAnswers, PartIsAppendedOnlyWhereItProvesItContinuesTheFile)
{
    EXPECT_EQ(ClassifyResumeAnswer(WithRange(Resume(206), 300000, 1000000)), ResumeAnswer::Append);
    // No usable range: the length alone must be exactly what is missing.
    EXPECT_EQ(ClassifyResumeAnswer(WithLength(Resume(206), 700000)), ResumeAnswer::Append);
    EXPECT_EQ(ClassifyResumeAnswer(WithLength(Resume(206), 1000000)), ResumeAnswer::Restart);
    EXPECT_EQ(ClassifyResumeAnswer(WithLength(Resume(206), 699999)), ResumeAnswer::Restart);
    EXPECT_EQ(ClassifyResumeAnswer(Resume(206)), ResumeAnswer::Restart);
    // A '*' total proves nothing about the length either.
    EXPECT_EQ(ClassifyResumeAnswer(WithLength(WithRange(Resume(206), 300000, 0), 700000)), ResumeAnswer::Append);
    EXPECT_EQ(ClassifyResumeAnswer(WithLength(WithRange(Resume(206), 300000, 0), 1000000)), ResumeAnswer::Restart);
}

TEST(ResumeAnswers, AnotherStartOrTotalRestartsEvenWhenTheLengthFits)
{
    EXPECT_EQ(ClassifyResumeAnswer(WithLength(WithRange(Resume(206), 0, 1000000), 700000)), ResumeAnswer::Restart);
    EXPECT_EQ(ClassifyResumeAnswer(WithLength(WithRange(Resume(206), 300001, 1000000), 700000)), ResumeAnswer::Restart);
    EXPECT_EQ(ClassifyResumeAnswer(WithLength(WithRange(Resume(206), 300000, 1000001), 700000)), ResumeAnswer::Restart);
}

TEST(ResumeAnswers, WholeFileRefusalAndNothingMissing)
{
    EXPECT_EQ(ClassifyResumeAnswer(WithLength(Resume(200), 1000000)), ResumeAnswer::WholeFile);
    EXPECT_EQ(ClassifyResumeAnswer(Resume(416)), ResumeAnswer::CheckOnDisk);
    // Nothing is missing by the known total, so no part can continue the file.
    ResumeFacts done = WithLength(WithRange(Resume(206), 1000000, 1000000), 0);
    done.resumeOffset = 1000000;
    EXPECT_EQ(ClassifyResumeAnswer(done), ResumeAnswer::Restart);
}

TEST(Progress, PercentNeverOverflowsAndResumeStartsAtTheRightStep)
{
    EXPECT_EQ(PercentOf(0xFFFFFFFFu, 0xFFFFFFFFu), 100u);
    EXPECT_EQ(PercentOf(0x7FFFFFFFu, 0xFFFFFFFEu), 50u);
    EXPECT_EQ(PercentOf(0xFFFFFFFEu, 0xFFFFFFFFu), 99u);
    EXPECT_EQ(PercentOf(5, 0), 0u);
    EXPECT_EQ(FirstPendingStep(0, 2), 1);
    EXPECT_EQ(FirstPendingStep(30, 10), 4);
    EXPECT_EQ(FirstPendingStep(30, 1), 31);
    EXPECT_EQ(FirstPendingStep(31, 2), 16);
    EXPECT_EQ(FirstPendingStep(7, 0), 8);
}

TEST(InstallerCommands, QuotedAtTheirRealLength)
{
    EXPECT_EQ(WindowsInstallerCommandLine(L"C:\\Temp\\WindowsInstaller.exe"),
              L"\"C:\\Temp\\WindowsInstaller.exe\" /quiet /norestart");
    EXPECT_EQ(DotNetCommandLine(L"C:\\Temp"), L"\"C:\\Temp\\dotnetfx.exe\" /q:a /c:\"install.exe /q\"");
    const std::wstring longFolder(400, L'x');
    EXPECT_EQ(DotNetCommandLine(longFolder).size(), 400u + 40u);
}
