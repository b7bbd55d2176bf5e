#include <gtest/gtest.h>

#include "download/portable/auto_proxy.h"
#include "download/portable/failure_text.h"

TEST(ScriptProxy, FirstHttpProxyOfTheAnswerAsBareHostAndPort)
{
    EXPECT_EQ(FirstScriptProxy(L"127.0.0.1:3129"), L"127.0.0.1:3129");
    EXPECT_EQ(FirstScriptProxy(L"p1:8080;p2:8080"), L"p1:8080");
    EXPECT_EQ(FirstScriptProxy(L"  p1:8080 \t p2:8080 "), L"p1:8080");
    EXPECT_EQ(FirstScriptProxy(L"http://p1:8080"), L"p1:8080");
    EXPECT_EQ(FirstScriptProxy(L"HTTP=p1:8080;https=p2:8443"), L"p1:8080");
    // The script's own wording, where a platform hands it on unchanged.
    EXPECT_EQ(FirstScriptProxy(L"PROXY p1:8080; DIRECT"), L"p1:8080");
    EXPECT_EQ(FirstScriptProxy(L"DIRECT; PROXY p1:8080"), L"p1:8080");
}

TEST(ScriptProxy, DirectEmptyAndUnusableProxiesNameNone)
{
    EXPECT_EQ(FirstScriptProxy(L""), L"");
    EXPECT_EQ(FirstScriptProxy(L" ; ;"), L"");
    EXPECT_EQ(FirstScriptProxy(L"DIRECT"), L"");
    EXPECT_EQ(FirstScriptProxy(L"direct"), L"");
    // A SOCKS or TLS proxy is no HTTP proxy: its address must not be taken for one.
    EXPECT_EQ(FirstScriptProxy(L"SOCKS5 s:1080; PROXY p:3128"), L"p:3128");
    EXPECT_EQ(FirstScriptProxy(L"HTTPS tls:443"), L"");
    EXPECT_EQ(FirstScriptProxy(L"socks=s:1080 ftp://f:21 p:3128"), L"p:3128");
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
