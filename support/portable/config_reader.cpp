#include "support/portable/config_reader.h"

#include <climits>

namespace {

// Walks the text field by field.
class FieldCursor {
public:
    explicit FieldCursor(const std::string& text) : m_text(text) {}

    std::string NextValue()
    {
        const size_t end = m_text.find(';', m_pos);
        std::string field;
        if (end == std::string::npos) {
            field = m_text.substr(m_pos);  // the rest, read again by the next field
        } else {
            field = m_text.substr(m_pos, end - m_pos);
            m_pos = end + 1;
        }
        const size_t equals = field.find('=');
        return equals == std::string::npos ? field : field.substr(equals + 1);
    }

private:
    const std::string& m_text;
    size_t m_pos = 0;
};

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int AsciiToInt(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate towards the sign's side so that INT_MIN itself is representable.
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        value = value * 10 + (negative ? -digit : digit);
        if (value > INT_MAX) return INT_MAX;
        if (value < INT_MIN) return INT_MIN;
    }
    return static_cast<int>(value);
}

ConfigValues ParseConfigText(const std::string& bytes, const std::string& startDirectory)
{
    const std::string text = bytes.substr(0, bytes.find('\0'));
    FieldCursor cursor(text);
    ConfigValues values;

    const std::string versions = cursor.NextValue();
    size_t start = 0;
    for (;;) {
        const size_t comma = versions.find(',', start);
        if (comma == std::string::npos) {
            values.supportedOsVersions.push_back(AsciiToInt(versions.substr(start)));
            break;
        }
        values.supportedOsVersions.push_back(AsciiToInt(versions.substr(start, comma - start)));
        start = comma + 1;
    }

    values.dotNetFolder = startDirectory + cursor.NextValue();
    values.dotNetFile = startDirectory + cursor.NextValue();
    values.dotNetUrlHead = cursor.NextValue();
    values.dotNetUrlTail = cursor.NextValue();
    values.stage2File = startDirectory + cursor.NextValue();
    values.stage2UrlHead = cursor.NextValue();
    values.stage2UrlTail = cursor.NextValue();
    values.msiFile = startDirectory + cursor.NextValue();
    values.msiUrlHead = cursor.NextValue();
    values.msiUrlTail = cursor.NextValue();
    values.language = cursor.NextValue();
    return values;
}
