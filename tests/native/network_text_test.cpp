#include <gtest/gtest.h>

#include "download/portable/auto_proxy.h"
#include "download/portable/failure_text.h"

namespace {
// The entries of an answer, one word for the kind and what an entry keeps.
std::vector<std::wstring> Read(const std::wstring& answer)
{
    std::vector<std::wstring> out;
    for (const ScriptEntry& e : ParseScriptAnswer(answer)) {
        switch (e.kind) {
        case ScriptEntry::Kind::Proxy:
            out.push_back(L"proxy " + e.address);
            break;
        case ScriptEntry::Kind::Direct:
            out.push_back(L"direct");
            break;
        case ScriptEntry::Kind::Socks:
            out.push_back(L"socks " + e.text);
            break;
        case ScriptEntry::Kind::Malformed:
            out.push_back(L"bad " + e.text);
            break;
        }
    }
    return out;
}
using Entries = std::vector<std::wstring>;
}  // namespace

TEST(ScriptProxy, EveryEntryOfTheScriptsAnswerInOrder)
{
    EXPECT_EQ(Read(L"PROXY p1:8080; PROXY p2:8080; DIRECT"), (Entries{L"proxy p1:8080", L"proxy p2:8080", L"direct"}));
    // Case, blanks of every kind, and separators with or without blanks around them.
    EXPECT_EQ(Read(L"  proxy p1:8080 ;Proxy\t  p2:3128;\r\ndirect  "),
              (Entries{L"proxy p1:8080", L"proxy p2:3128", L"direct"}));
    EXPECT_EQ(Read(L"DIRECT; PROXY p1:8080"), (Entries{L"direct", L"proxy p1:8080"}));
    EXPECT_EQ(Read(L"HTTP h:80; HTTPS tls:443"), (Entries{L"proxy h:80", L"proxy tls:443"}));
    // A forgotten ';' still leaves two entries; a keyword's proxy may go without its port.
    EXPECT_EQ(Read(L"PROXY a:1 DIRECT"), (Entries{L"proxy a:1", L"direct"}));
    EXPECT_EQ(Read(L"PROXY gateway"), Entries{L"proxy gateway"});
    EXPECT_EQ(Read(L"PROXY [::1]:3128"), Entries{L"proxy [::1]:3128"});
    EXPECT_EQ(Read(L""), Entries{});
    EXPECT_EQ(Read(L" ; ;"), Entries{});
}

TEST(ScriptProxy, WinHttpsOwnListReadsTheSameWay)
{
    EXPECT_EQ(Read(L"127.0.0.1:3129"), Entries{L"proxy 127.0.0.1:3129"});
    EXPECT_EQ(Read(L"p1:8080;p2:8080"), (Entries{L"proxy p1:8080", L"proxy p2:8080"}));
    EXPECT_EQ(Read(L"  p1:8080 \t p2:8080 "), (Entries{L"proxy p1:8080", L"proxy p2:8080"}));
    EXPECT_EQ(Read(L"http://p1:8080"), Entries{L"proxy p1:8080"});
    EXPECT_EQ(Read(L"HTTP=p1:8080;https=p2:8443"), (Entries{L"proxy p1:8080", L"proxy p2:8443"}));
    EXPECT_EQ(Read(L"http=http://p:1;http=gateway"), (Entries{L"proxy p:1", L"proxy gateway"}));
    EXPECT_EQ(Read(L"direct"), Entries{L"direct"});
}

TEST(ScriptProxy, SocksAndEntriesNotUnderstoodAreKeptForTheirOwnLine)
{
    // A SOCKS or other proxy is no HTTP proxy: its address must not be taken for one.
    EXPECT_EQ(Read(L"SOCKS5 s:1080; PROXY p:3128"), (Entries{L"socks SOCKS5 s:1080", L"proxy p:3128"}));
    EXPECT_EQ(Read(L"SOCKS s:1;socks4 s:2; Socks5   s:3;SOCKS"),
              (Entries{L"socks SOCKS s:1", L"socks socks4 s:2", L"socks Socks5   s:3", L"socks SOCKS"}));
    EXPECT_EQ(Read(L"socks=s:1080 ftp://f:21 p:3128"),
              (Entries{L"socks socks=s:1080", L"bad ftp://f:21", L"proxy p:3128"}));
    // A keyword without its proxy, or with one that is no "host[:port]"; the next entry counts.
    EXPECT_EQ(Read(L"PROXY ; DIRECT"), (Entries{L"bad PROXY", L"direct"}));
    EXPECT_EQ(Read(L"PROXY PROXY p:1"), (Entries{L"bad PROXY", L"proxy p:1"}));
    for (const wchar_t* address : {L"p:0", L"p:65536", L"p:123456", L"p:80x", L"p:", L":80", L"user@p:80",
                                   L"p:80/path", L"http://p:80", L"p:1:2", L"[::1", L"[]:80", L"h\u00e9te:80"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(address)));
        EXPECT_EQ(Read(std::wstring(L"PROXY ") + address + L"; DIRECT"),
                  (Entries{std::wstring(L"bad PROXY ") + address, L"direct"}));
    }
    // Outside the script's wording a bare word needs its port to be taken for a proxy.
    EXPECT_EQ(Read(L"gateway; FOO bar:1; =p:1; http="), (Entries{L"bad gateway", L"bad FOO", L"proxy bar:1", L"bad =p:1",
                                                                 L"bad http="}));
}

TEST(ScriptProxy, EachEntryHasItsLogLine)
{
    const std::vector<ScriptEntry> entries = ParseScriptAnswer(L"PROXY p:3128; DIRECT; SOCKS5  s:1080; PROXY p:99999");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(ScriptEntryLine(L"auto-configuration script", entries[0]), L"Proxy from auto-configuration script: p:3128");
    EXPECT_EQ(ScriptEntryLine(L"auto-detection", entries[1]), L"Proxy from auto-detection: DIRECT");
    EXPECT_EQ(ScriptEntryLine(L"auto-configuration script", entries[2]),
              L"Proxy from auto-configuration script skipped, SOCKS is not supported: SOCKS5  s:1080");
    EXPECT_EQ(ScriptEntryLine(L"auto-detection", entries[3]),
              L"Proxy from auto-detection skipped, not understood: PROXY p:99999");
}

TEST(ScriptProxy, LookupUrlLeavesOutTheDefaultPort)
{
    EXPECT_EQ(ProxyLookupUrl(false, L"dl.tarvelo.com", 80, L"/a/b.exe?x=1"), L"http://dl.tarvelo.com/a/b.exe?x=1");
    EXPECT_EQ(ProxyLookupUrl(true, L"dl.tarvelo.com", 443, L"/b.exe"), L"https://dl.tarvelo.com/b.exe");
    EXPECT_EQ(ProxyLookupUrl(false, L"dl.tarvelo.com", 8080, L"/b.exe"), L"http://dl.tarvelo.com:8080/b.exe");
    EXPECT_EQ(ProxyLookupUrl(true, L"h", 80, L""), L"https://h:80/");
}

TEST(FailureText, CallAndDecimalCodeAndNamedCertificateFlags)
{
    EXPECT_EQ(CallFailureLine("WinHttpSendRequest", 12029), "WinHttpSendRequest failed with error 12029");
    EXPECT_EQ(CallFailureLine("WriteFile", 4294967295u), "WriteFile failed with error 4294967295");
    EXPECT_EQ(SecureFailureLine(0x8), "Secure failure flags 0x00000008 (certificate authority not trusted)");
    EXPECT_EQ(SecureFailureLine(0x30),
              "Secure failure flags 0x00000030 (certificate issued for another host, certificate expired or not yet valid)");
    EXPECT_EQ(SecureFailureLine(0x80000000u), "Secure failure flags 0x80000000 (secure channel error)");
    EXPECT_EQ(SecureFailureLine(0x100), "Secure failure flags 0x00000100");
}
