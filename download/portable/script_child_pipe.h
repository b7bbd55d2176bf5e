#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// A proxy auto-configuration script comes from the network, so the installer, which runs as
// administrator, never runs one itself: a child process of its own exe, with a restricted token,
// runs it. This is how that child is started and what the two say to each other over their two
// pipes, without any Windows header. The installer reads the child's bytes as hostile.

// Company scripts are a few kilobytes; a longer download is no script.
constexpr size_t kMaxScriptBytes = 1024 * 1024;
// The address and the host name the script is asked about.
constexpr size_t kMaxScriptQueryBytes = 32 * 1024;
// An answer is one line ("PROXY a:1; DIRECT"); a longer one is refused whole.
constexpr size_t kMaxScriptAnswerBytes = 4096;

// The child's command line: the program, quoted, then its one switch with the values of the
// handle it reads the request from and of the one it writes the reply to.
std::wstring ScriptChildCommandLine(const std::wstring& program, uint32_t requestPipe, uint32_t replyPipe);

// The two handle values when `commandLine` (as the process was given it) is a child's: the
// program, then the switch and nothing else. Whether the values are pipes that an installer of
// this program handed down is for the caller to prove.
bool ParseScriptChildCommandLine(const wchar_t* commandLine, uint32_t* requestPipe, uint32_t* replyPipe);

// Whether one argument of a command line is the child's switch (with whatever follows it), so
// that a reader of the installer's own switches can pass it over.
bool IsScriptChildSwitch(const std::wstring& argument);

// What the installer hands over: the script and what it is asked about, all 8-bit text as the
// script engine takes it.
struct ScriptRequest {
    std::string url, host, script;
};

// What the child gives back.
struct ScriptReply {
    enum class Outcome : uint8_t {
        Answered = 1,       // `text` is the script's answer
        NoEngine = 2,       // no script engine here (Windows 11 has none in jsproxy); `code`
                            // is the loader's or the engine's error
        ScriptFailed = 3,   // the engine could not run the script; `code` is its error
        AnswerTooLong = 4,  // the script answered more than kMaxScriptAnswerBytes
        Refused = 5,        // the child would run no script: its token is not restricted
    };
    Outcome outcome = Outcome::ScriptFailed;
    uint32_t code = 0;
    std::string text;  // Answered only
};

// The most bytes a reply can take: its header and the longest answer.
constexpr size_t kScriptReplyHeaderBytes = 13;
constexpr size_t kMaxScriptReplyBytes = kScriptReplyHeaderBytes + kMaxScriptAnswerBytes;

enum class Decoded {
    Complete,    // the bytes are one whole message, nothing more
    Incomplete,  // a beginning of one: read on
    Malformed,   // never a message, whatever follows
};

// Nothing beyond the bounds above is encoded: a request over them or a reply that breaks the
// reply's rules gives an empty string.
std::string EncodeScriptRequest(const ScriptRequest& request);
std::string EncodeScriptReply(const ScriptReply& reply);

Decoded DecodeScriptRequest(const char* bytes, size_t size, ScriptRequest* request);
// A reply is Complete only with a known outcome and, for an answer, printable text (tabs and
// line ends allowed, no other control character); the other outcomes carry no text.
Decoded DecodeScriptReply(const char* bytes, size_t size, ScriptReply* reply);
