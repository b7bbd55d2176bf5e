#include <gtest/gtest.h>

#include "download/portable/script_child_pipe.h"

using namespace std::string_literals;

namespace {
struct Pipes {
    bool child;
    uint32_t request, reply;
};

Pipes Parse(const std::wstring& commandLine)
{
    Pipes p{false, 0, 0};
    p.child = ParseScriptChildCommandLine(commandLine.c_str(), &p.request, &p.reply);
    return p;
}

std::string Reply(ScriptReply::Outcome outcome, uint32_t code, const std::string& text)
{
    ScriptReply reply;
    reply.outcome = outcome;
    reply.code = code;
    reply.text = text;
    return EncodeScriptReply(reply);
}

Decoded DecodeRequest(const std::string& bytes, ScriptRequest* request)
{
    return DecodeScriptRequest(bytes.data(), bytes.size(), request);
}

Decoded DecodeReply(const std::string& bytes, ScriptReply* reply)
{
    return DecodeScriptReply(bytes.data(), bytes.size(), reply);
}

// Every beginning of a whole message, however the pipe cuts it, asks for more.
template <typename Message>
void ExpectEveryPrefixIncomplete(const std::string& bytes, Decoded (*decode)(const std::string&, Message*))
{
    Message message;
    for (size_t n = 0; n < bytes.size(); ++n) ASSERT_EQ(decode(bytes.substr(0, n), &message), Decoded::Incomplete) << n;
    EXPECT_EQ(decode(bytes, &message), Decoded::Complete);
    EXPECT_EQ(decode(bytes + "x", &message), Decoded::Malformed);
}
}  // namespace

TEST(ScriptChildCommandLine, TheSwitchIsReadBackOnlyInTheExactFormTheInstallerWrites)
{
    const std::wstring written = ScriptChildCommandLine(L"C:\\Users\\Иван\\Downloads\\Tarvelo Setup.exe", 1044, 12);
    EXPECT_EQ(written, L"\"C:\\Users\\Иван\\Downloads\\Tarvelo Setup.exe\" /proxy-script-child:1044,12");
    const Pipes p = Parse(written);
    EXPECT_TRUE(p.child);
    EXPECT_EQ(p.request, 1044u);
    EXPECT_EQ(p.reply, 12u);
    EXPECT_TRUE(Parse(L"TarveloSetup.exe\t/proxy-script-child:4,4294967292  ").child);

    // What a user might type, or a command line that only looks like the child's.
    for (const wchar_t* line : {
             L"TarveloSetup.exe", L"TarveloSetup.exe /proxy-script-child:", L"TarveloSetup.exe /proxy-script-child:4",
             L"TarveloSetup.exe /proxy-script-child:4,", L"TarveloSetup.exe /proxy-script-child:4,8 /quiet",
             L"TarveloSetup.exe /quiet /proxy-script-child:4,8", L"TarveloSetup.exe /PROXY-SCRIPT-CHILD:4,8",
             L"TarveloSetup.exe /proxy-script-child: 4,8", L"TarveloSetup.exe /proxy-script-child:4 ,8",
             L"TarveloSetup.exe/proxy-script-child:4,8", L"\"TarveloSetup.exe /proxy-script-child:4,8",
             L"\"TarveloSetup.exe\"/proxy-script-child:4,8",
             // Not what the installer writes for a handle: zero, the same pipe twice, not a
             // multiple of 4, leading zeros, signs, more than 32 bits, other digits.
             L"TarveloSetup.exe /proxy-script-child:0,8", L"TarveloSetup.exe /proxy-script-child:8,8",
             L"TarveloSetup.exe /proxy-script-child:6,8", L"TarveloSetup.exe /proxy-script-child:04,8",
             L"TarveloSetup.exe /proxy-script-child:+4,8", L"TarveloSetup.exe /proxy-script-child:-4,8",
             L"TarveloSetup.exe /proxy-script-child:4294967296,8",
             L"TarveloSetup.exe /proxy-script-child:44444444444,8", L"TarveloSetup.exe /proxy-script-child:4,0x8",
             L"TarveloSetup.exe /proxy-script-child:\x0664,8"}) {
        EXPECT_FALSE(Parse(line).child) << std::string(line, line + wcslen(line));
    }
    // Other readers of the command line know the switch, to pass it over.
    EXPECT_TRUE(IsScriptChildSwitch(L"/proxy-script-child:4,8"));
    EXPECT_FALSE(IsScriptChildSwitch(L"/proxy-script-child"));
}

TEST(ScriptChildPipe, ARequestComesThroughWholeAndOnlyWhole)
{
    ScriptRequest request;
    request.url = "http://download.tarvelo.com/packages/stage2.exe?a=1";
    request.host = "download.tarvelo.com";
    request.script = "function FindProxyForURL(url, host) { return \"DIRECT\"; }\0\xff"s;
    const std::string bytes = EncodeScriptRequest(request);
    ExpectEveryPrefixIncomplete(bytes, &DecodeRequest);
    ScriptRequest back;
    ASSERT_EQ(DecodeRequest(bytes, &back), Decoded::Complete);
    EXPECT_EQ(back.url, request.url);
    EXPECT_EQ(back.host, request.host);
    EXPECT_EQ(back.script, request.script);

    // The longest script and address go; one byte more is never written, and never read.
    request.script.assign(kMaxScriptBytes, 'x');
    request.url.assign(kMaxScriptQueryBytes, 'u');
    ASSERT_EQ(DecodeRequest(EncodeScriptRequest(request), &back), Decoded::Complete);
    EXPECT_EQ(back.script.size(), kMaxScriptBytes);
    request.script += 'x';
    EXPECT_EQ(EncodeScriptRequest(request), "");
    std::string header = EncodeScriptRequest(ScriptRequest());
    header[12] = 1;
    header[14] = 0x10;  // a script of 1 MiB and one byte
    EXPECT_EQ(DecodeRequest(header, &back), Decoded::Malformed);
    EXPECT_EQ(DecodeRequest("TPA1", &back), Decoded::Malformed);
}

TEST(ScriptChildPipe, EveryOutcomeComesBackAsWritten)
{
    const ScriptReply::Outcome outcomes[] = {ScriptReply::Outcome::Answered, ScriptReply::Outcome::NoEngine,
                                             ScriptReply::Outcome::ScriptFailed, ScriptReply::Outcome::AnswerTooLong,
                                             ScriptReply::Outcome::Refused};
    for (ScriptReply::Outcome outcome : outcomes) {
        const std::string text = outcome == ScriptReply::Outcome::Answered ? "PROXY a:1;\tPROXY b:2\r\nDIRECT" : "";
        const std::string bytes = Reply(outcome, 0x80070005u, text);
        ExpectEveryPrefixIncomplete(bytes, &DecodeReply);
        ScriptReply back;
        ASSERT_EQ(DecodeReply(bytes, &back), Decoded::Complete);
        EXPECT_EQ(back.outcome, outcome);
        EXPECT_EQ(back.code, 0x80070005u);
        EXPECT_EQ(back.text, text);
    }
    ScriptReply back;
    const std::string longest(kMaxScriptAnswerBytes, 'p');
    ASSERT_EQ(DecodeReply(Reply(ScriptReply::Outcome::Answered, 0, longest), &back), Decoded::Complete);
    EXPECT_EQ(back.text, longest);
    EXPECT_EQ(Reply(ScriptReply::Outcome::Answered, 0, longest + "p"), "");
}

TEST(ScriptChildPipe, AHostileReplyIsRefusedAsSoonAsItCanBeKnown)
{
    ScriptReply back;
    back.text = "untouched";
    const std::string good = Reply(ScriptReply::Outcome::Answered, 0, "PROXY a:1");
    // Another magic, an outcome nobody writes, a length over the bound, text where the outcome
    // has none, more bytes than the reply's own, a NUL or a control character in the answer.
    std::string otherMagic = good;
    otherMagic[3] = '2';
    EXPECT_EQ(DecodeReply(otherMagic.substr(0, 2) + "X", &back), Decoded::Malformed);
    for (char outcome : {'\0', '\x06', '\xff'}) {
        std::string bytes = good.substr(0, 5);
        bytes[4] = outcome;
        EXPECT_EQ(DecodeReply(bytes, &back), Decoded::Malformed) << int(outcome);
    }
    std::string tooLong = good.substr(0, kScriptReplyHeaderBytes);
    tooLong[9] = 0x01;
    tooLong[10] = 0x10;  // 4097 bytes
    EXPECT_EQ(DecodeReply(tooLong, &back), Decoded::Malformed);
    tooLong[12] = 0x7F;  // a length near 2^31 must not wrap any sum
    EXPECT_EQ(DecodeReply(tooLong, &back), Decoded::Malformed);
    std::string textOnFailure = good;
    textOnFailure[4] = static_cast<char>(ScriptReply::Outcome::ScriptFailed);
    EXPECT_EQ(DecodeReply(textOnFailure, &back), Decoded::Malformed);
    EXPECT_EQ(DecodeReply(good + std::string(kMaxScriptReplyBytes, 'x'), &back), Decoded::Malformed);
    for (const std::string& text : {"PROXY\0a:1"s, "PROXY a:1\x1b[2J"s, "PROXY a:1\x7f"s, "PROXY\x0b" "a:1"s}) {
        std::string bytes = good.substr(0, 9) + std::string(4, '\0');
        bytes[9] = static_cast<char>(text.size());
        EXPECT_EQ(DecodeReply(bytes + text, &back), Decoded::Malformed);
    }
    EXPECT_EQ(back.text, "untouched");
    // Bytes of another code page pass: the installer reads them in its own.
    EXPECT_EQ(DecodeReply(Reply(ScriptReply::Outcome::Answered, 0, "PROXY \xcf\xf0\xee:1"), &back),
              Decoded::Complete);
}
