// libFuzzer target: any bytes as what a proxy script's child process writes back, and as what
// it reads. The installer reads the reply as hostile: besides the sanitizers, this checks that
// a reply taken whole is one the child could have written (it encodes back to the same bytes),
// that its answer holds no control character but tabs and line ends and is within its bound,
// that nothing longer than the longest reply is ever read as a beginning of one, and that a
// beginning of a whole message is never refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/portable/script_child_pipe.h"

namespace {
void Require(bool condition)
{
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    ScriptReply reply;
    const Decoded decoded = DecodeScriptReply(bytes, size, &reply);
    Require(decoded != Decoded::Incomplete || size < kMaxScriptReplyBytes);
    if (decoded == Decoded::Complete) {
        Require(EncodeScriptReply(reply) == std::string(bytes, size));
        Require(reply.text.size() <= kMaxScriptAnswerBytes);
        for (char c : reply.text) {
            const unsigned char u = static_cast<unsigned char>(c);
            Require(u >= 0x20 || c == '\t' || c == '\r' || c == '\n');
            Require(u != 0x7F);
        }
        for (size_t n = 0; n < size; ++n) {
            ScriptReply part;
            Require(DecodeScriptReply(bytes, n, &part) == Decoded::Incomplete);
        }
    }
    ScriptRequest request;
    if (DecodeScriptRequest(bytes, size, &request) == Decoded::Complete) {
        Require(request.script.size() <= kMaxScriptBytes);
        Require(EncodeScriptRequest(request) == std::string(bytes, size));
    }
    return 0;
}
