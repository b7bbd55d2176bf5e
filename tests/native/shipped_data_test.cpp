// The default files placed beside every run must work with the readers as they are.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "support/portable/config_reader.h"
#include "support/portable/text_table.h"

namespace {

std::string ReadSourceFile(const std::string& relative)
{
    std::ifstream in(std::string(TARVELO_SOURCE_DIR) + "/" + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ShippedData, TextTableHasEveryKeyTheProgramUses)
{
    const std::string bytes = ReadSourceFile("data/Resource-en-GB.txt");
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(bytes.size() % 2, 0u);
    // A byte-order mark would hide the first key.
    ASSERT_FALSE(bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE');
    const auto table =
        ParseTextTable(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    const char* const keys[] = {
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
        "CREDENTIAL_BOLD_TEXT", "USER_NAME", "PASSWORD", "USER_NAME_EXAMPLE"};
    ASSERT_EQ(std::size(keys), 44u);
    for (const char* key : keys) {
        const std::wstring wideKey(key, key + std::char_traits<char>::length(key));
        const auto found = table.find(wideKey);
        ASSERT_NE(found, table.end()) << key;
        EXPECT_FALSE(found->second.empty()) << key;
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
