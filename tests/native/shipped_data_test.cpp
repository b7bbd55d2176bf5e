// The default files placed beside every run must work with the readers as they are.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "support/portable/config_reader.h"
#include "support/portable/text_table.h"

namespace {

std::string ReadSourceFile(const std::string& relative)
{
    std::ifstream in(std::string(TARVELO_SOURCE_DIR) + "/" + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* const kKeys[] = {
    "DIALOG_CAPTION", "CANNOT_INSTALL", "SYSTEM_CONFIG", "SYSTEM_REQUIREMENTS",
    "USER_NOT_ADMIN", "OK_BUTTON", "DOTNET_REQUIRED", "DOTNET_NOTFOUND", "YES_BUTTON",
    "PROXY_CAPTION", "CONNECTION_FAILURE", "MANUALLY_DOWNLOAD_CAPTION",
    "MANUALLY_DOWNLOAD_DOTNET", "SKIP_BUTTON", "QUIT_INSTALLING_CAPTION", "QUIT_TARVELO",
    "YES", "NO", "DOTNET_HYPERLINK_TEXT", "PROGRESS_BAR_DOWNLOADING_TEXT", "URL_LABEL2",
    "PROGRESS_BAR_TARVELO", "DOWNLOAD_CONTENT", "BROWSE_SEARCH", "SYNC_MOBILE",
    "DOWNLOADING_DOTNET", "INSTALLING_DOTNET", "INSTALLING_BOLD_TEXT",
    "PROGRESS_BAR_INSTALLING_TEXT", "PROVIDE_PROXY_DETAIL", "PROXY_SERVER_ERROR",
    "CLOSE_BUTTON", "CREDENTIAL_ERROR", "CREDENTIAL_DETAILS", "PROXY_BOLD_TEXT",
    "HTTP_PROXY", "HTTP_PORT", "PORT_EG", "PROXY_EXAMPLE", "CONTINUE_BUTTON",
    "CREDENTIAL_BOLD_TEXT", "USER_NAME", "PASSWORD", "USER_NAME_EXAMPLE", "CLOSE_CONTROL"};

const char* const kLanguages[] = {"en-GB", "de-DE", "fr-FR", "ru-RU"};

std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii)); }

// The readable source a table is made from (tools/text-<language>.txt, UTF-8 "KEY=text"
// lines), read the way tools/make-text-table.py reads it: text in code units, "\n" a line break.
std::map<std::wstring, std::wstring> ReadTableSource(const std::string& utf8)
{
    std::map<std::wstring, std::wstring> table;
    size_t start = 0;
    while (start < utf8.size()) {
        size_t end = utf8.find('\n', start);
        if (end == std::string::npos) end = utf8.size();
        std::string line = utf8.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
        std::wstring text;
        for (size_t i = eq + 1; i < line.size();) {
            const unsigned char c = static_cast<unsigned char>(line[i]);
            const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
            unsigned code = extra == 0 ? c : c & (0x3F >> extra);
            for (int k = 1; k <= extra && i + k < line.size(); ++k) code = (code << 6) | (line[i + k] & 0x3F);
            i += 1 + extra;
            if (code == 'n' && !text.empty() && text.back() == L'\\') {
                text.back() = L'\r';
                text += L'\n';
            } else {
                text += static_cast<wchar_t>(code);
            }
        }
        table.emplace(Wide(line.substr(0, eq).c_str()), TrimTextTableSpace(text));
    }
    return table;
}

TEST(ShippedData, EveryLanguageHasEveryKeyTheProgramUsesAndNothingElse)
{
    ASSERT_EQ(std::size(kKeys), 45u);
    for (const char* language : kLanguages) {
        SCOPED_TRACE(language);
        const std::string bytes = ReadSourceFile(std::string("data/Resource-") + language + ".txt");
        ASSERT_FALSE(bytes.empty());
        ASSERT_EQ(bytes.size() % 2, 0u);
        // A byte-order mark would hide the first key.
        ASSERT_FALSE(bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE');
        const auto table = ParseTextTable(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        for (const char* key : kKeys) {
            const auto found = table.find(Wide(key));
            ASSERT_NE(found, table.end()) << key;
            EXPECT_FALSE(found->second.empty()) << key;
            // Statics and buttons would underline the letter after a "&".
            EXPECT_EQ(found->second.find(L'&'), std::wstring::npos) << key;
        }
        // One ";" ends each entry, so no text holds one; the line break after the last entry
        // reads as the empty entry, and nothing else is there.
        size_t separators = 0;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) separators += bytes[i] == ';' && bytes[i + 1] == 0;
        EXPECT_EQ(separators, std::size(kKeys));
        for (const auto& entry : table)
            EXPECT_TRUE(entry.first.empty() || std::count_if(std::begin(kKeys), std::end(kKeys), [&](const char* k) {
                            return Wide(k) == entry.first;
                        }) == 1)
                << "unexpected key of " << entry.first.size() << " characters";

        // The shipped table is the one its source makes: neither was edited without the other.
        auto source = ReadTableSource(ReadSourceFile(std::string("tools/text-") + language + ".txt"));
        source.emplace(L"", L"");
        EXPECT_TRUE(source == table) << "data/Resource-" << language << ".txt is not made from tools/text-"
                                     << language << ".txt: run tools/make-text-table.py";
    }
}

TEST(ShippedData, SampleConfigurationReadsAsIntended)
{
    const ConfigValues v = ParseConfigText(ReadSourceFile("data/ConfigFile.txt"), "C:\\run");
    EXPECT_EQ(v.language, "en-GB");
    // Wine's default Windows version is 6.1 with service pack 1.
    bool accepts61 = false;
    for (int d : v.supportedOsVersions) accepts61 |= d / 100 == 6 && d / 10 % 10 == 1 && d % 10 <= 1;
    EXPECT_TRUE(accepts61);
    for (const std::string* path : {&v.dotNetFolder, &v.dotNetFile, &v.stage2File, &v.msiFile})
        EXPECT_EQ(path->rfind("C:\\run\\", 0), 0u) << *path;
    // The .NET installer runs dotnetfx.exe from the folder, so the file must lie in it.
    EXPECT_EQ(v.dotNetFile, v.dotNetFolder + "\\dotnetfx.exe");
    for (const std::string* head : {&v.dotNetUrlHead, &v.stage2UrlHead, &v.msiUrlHead})
        EXPECT_EQ(head->rfind("http://download.tarvelo.com/", 0), 0u) << *head;
    for (const std::string* value : {&v.dotNetUrlTail, &v.stage2UrlTail, &v.msiUrlTail})
        EXPECT_EQ(value->find_first_of(" \r\n"), std::string::npos) << *value;
}

}  // namespace
