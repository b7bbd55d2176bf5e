#include "download/portable/script_child_pipe.h"

#include "support/portable/decimal.h"

// Read in place, by index: the shipped program pays for every string member it uses.
namespace {
const wchar_t kSwitch[] = L"/proxy-script-child:";
constexpr size_t kSwitchLength = sizeof(kSwitch) / sizeof(wchar_t) - 1;
const char kRequestMagic[4] = {'T', 'P', 'Q', '1'};
const char kReplyMagic[4] = {'T', 'P', 'A', '1'};
constexpr size_t kRequestHeaderBytes = 16;
constexpr unsigned char kAnswered = static_cast<unsigned char>(ScriptReply::Outcome::Answered);
constexpr unsigned char kLastOutcome = static_cast<unsigned char>(ScriptReply::Outcome::Refused);

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool StartsWithSwitch(const wchar_t* text)
{
    for (size_t i = 0; i < kSwitchLength; ++i)
        if (text[i] != kSwitch[i]) return false;
    return true;
}

void PutU32(std::string& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t GetU32(const char* bytes)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

// Whether `bytes` starts as `magic` does, as far as either goes.
bool StartsLike(const char* bytes, size_t size, const char (&magic)[4])
{
    for (size_t i = 0; i < 4 && i < size; ++i)
        if (bytes[i] != magic[i]) return false;
    return true;
}

// A handle value as the child's switch writes it: decimal, no leading zero, not 0, and a
// multiple of 4 as every handle value is.
const wchar_t* ReadHandleValue(const wchar_t* text, uint32_t* value)
{
    uint64_t number = 0;
    const wchar_t* at = text;
    for (; *at >= L'0' && *at <= L'9' && at - text < 10; ++at) number = number * 10 + static_cast<uint64_t>(*at - L'0');
    if (at == text || *text == L'0' || number > 0xFFFFFFFFu || number % 4 != 0) return nullptr;
    *value = static_cast<uint32_t>(number);
    return at;
}

bool IsAnswerText(const char* text, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) return false;
    }
    return true;
}
}  // namespace

std::wstring ScriptChildCommandLine(const std::wstring& program, uint32_t requestPipe, uint32_t replyPipe)
{
    std::wstring line(1, L'"');
    line += program;
    line += L"\" ";
    line += kSwitch;
    line += WideDecimal(requestPipe);
    line += L',';
    line += WideDecimal(replyPipe);
    return line;
}

bool ParseScriptChildCommandLine(const wchar_t* commandLine, uint32_t* requestPipe, uint32_t* replyPipe)
{
    // The program's name, quoted or up to the first blank, as Windows reads it.
    const wchar_t* at = commandLine;
    if (*at == L'"') {
        for (++at; *at && *at != L'"'; ++at) {
        }
        if (!*at++) return false;
    } else {
        while (*at && !IsBlank(*at)) ++at;
    }
    if (!IsBlank(*at)) return false;
    while (IsBlank(*at)) ++at;
    if (!StartsWithSwitch(at)) return false;
    uint32_t request = 0, reply = 0;
    at = ReadHandleValue(at + kSwitchLength, &request);
    if (!at || *at++ != L',') return false;
    at = ReadHandleValue(at, &reply);
    if (!at || request == reply) return false;
    while (IsBlank(*at)) ++at;
    if (*at) return false;
    *requestPipe = request;
    *replyPipe = reply;
    return true;
}

bool IsScriptChildSwitch(const std::wstring& argument)
{
    return argument.size() >= kSwitchLength && StartsWithSwitch(argument.c_str());
}

std::string EncodeScriptRequest(const ScriptRequest& request)
{
    std::string out;
    if (request.url.size() > kMaxScriptQueryBytes || request.host.size() > kMaxScriptQueryBytes ||
        request.script.size() > kMaxScriptBytes)
        return out;
    out.assign(kRequestMagic, 4);
    PutU32(out, static_cast<uint32_t>(request.url.size()));
    PutU32(out, static_cast<uint32_t>(request.host.size()));
    PutU32(out, static_cast<uint32_t>(request.script.size()));
    out += request.url;
    out += request.host;
    out += request.script;
    return out;
}

Decoded DecodeScriptRequest(const char* bytes, size_t size, ScriptRequest* request)
{
    if (!StartsLike(bytes, size, kRequestMagic)) return Decoded::Malformed;
    if (size < kRequestHeaderBytes) return Decoded::Incomplete;
    const uint32_t url = GetU32(bytes + 4), host = GetU32(bytes + 8), script = GetU32(bytes + 12);
    if (url > kMaxScriptQueryBytes || host > kMaxScriptQueryBytes || script > kMaxScriptBytes) return Decoded::Malformed;
    const size_t total = kRequestHeaderBytes + url + host + script;
    if (size < total) return Decoded::Incomplete;
    if (size > total) return Decoded::Malformed;
    const char* at = bytes + kRequestHeaderBytes;
    request->url.assign(at, url);
    request->host.assign(at + url, host);
    request->script.assign(at + url + host, script);
    return Decoded::Complete;
}

std::string EncodeScriptReply(const ScriptReply& reply)
{
    std::string out;
    const bool answered = reply.outcome == ScriptReply::Outcome::Answered;
    if (reply.text.size() > kMaxScriptAnswerBytes || !IsAnswerText(reply.text.data(), reply.text.size()) ||
        (!answered && !reply.text.empty()))
        return out;
    out.assign(kReplyMagic, 4);
    out += static_cast<char>(reply.outcome);
    PutU32(out, reply.code);
    PutU32(out, static_cast<uint32_t>(reply.text.size()));
    out += reply.text;
    return out;
}

Decoded DecodeScriptReply(const char* bytes, size_t size, ScriptReply* reply)
{
    if (!StartsLike(bytes, size, kReplyMagic) || size > kMaxScriptReplyBytes) return Decoded::Malformed;
    const unsigned char outcome = size > 4 ? static_cast<unsigned char>(bytes[4]) : kAnswered;
    if (outcome < kAnswered || outcome > kLastOutcome) return Decoded::Malformed;
    if (size < kScriptReplyHeaderBytes) return Decoded::Incomplete;
    const uint32_t length = GetU32(bytes + 9);
    if (length > kMaxScriptAnswerBytes || (outcome != kAnswered && length != 0)) return Decoded::Malformed;
    if (size < kScriptReplyHeaderBytes + length) return Decoded::Incomplete;
    if (size > kScriptReplyHeaderBytes + length) return Decoded::Malformed;
    if (!IsAnswerText(bytes + kScriptReplyHeaderBytes, length)) return Decoded::Malformed;
    reply->outcome = static_cast<ScriptReply::Outcome>(outcome);
    reply->code = GetU32(bytes + 5);
    reply->text.assign(bytes + kScriptReplyHeaderBytes, length);
    return Decoded::Complete;
}
