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
            m_exhausted = true;
        } else {
            field = m_text.substr(m_pos, end - m_pos);
            m_pos = end + 1;
        }
        const size_t equals = field.find('=');
        return equals == std::string::npos ? field : field.substr(equals + 1);
    }

    // A field that had to run to the end of the text has been read: nothing new follows.
    bool Exhausted() const { return m_exhausted; }

private:
    const std::string& m_text;
    size_t m_pos = 0;
    bool m_exhausted = false;
};

std::string TrimDigestSpace(const std::string& text)
{
    const char* const space = " \t\r\n";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

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

    // Unlike the twelve fields, a digest field never re-reads text: a field read to the end
    // leaves the later ones absent rather than repeating its digest for other packages.
    struct DigestField {
        int position;
        bool* present;
        Sha256::Digest* digest;
    };
    const DigestField digests[] = {{13, &values.hasMsiSha256, &values.msiSha256},
                                   {14, &values.hasDotNetSha256, &values.dotNetSha256},
                                   {15, &values.hasStage2Sha256, &values.stage2Sha256}};
    for (const DigestField& field : digests) {
        if (cursor.Exhausted()) break;
        const std::string value = TrimDigestSpace(cursor.NextValue());
        if (value.empty()) continue;
        if (!ParseDigestHex(value, field.digest)) {
            if (values.badDigestField == 0) values.badDigestField = field.position;
            continue;
        }
        *field.present = true;
    }
    struct SignerField {
        int position;
        SignerPins* pins;
    };
    const SignerField signers[] = {{16, &values.msiSigners}, {17, &values.dotNetSigners}, {18, &values.stage2Signers}};
    for (const SignerField& field : signers) {
        if (cursor.Exhausted()) break;
        if (!ParseSignerPins(cursor.NextValue(), field.pins) && values.badSignerField == 0)
            values.badSignerField = field.position;
    }
    return values;
}
