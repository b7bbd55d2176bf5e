#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "download/portable/windows_program.h"

namespace {

// The smallest file that passes: "MZ", the offset 0x40 at 0x3C, "PE\0\0" at 0x40.
std::vector<unsigned char> MinimalProgram(uint32_t peOffset = 0x40, size_t size = 0x44)
{
    std::vector<unsigned char> file(size, 0);
    file[0] = 'M';
    file[1] = 'Z';
    for (int i = 0; i < 4; ++i) file[0x3C + i] = static_cast<unsigned char>(peOffset >> (8 * i));
    if (uint64_t{peOffset} + 4 <= size) std::memcpy(&file[peOffset], "PE\0\0", 4);
    return file;
}

// Both steps as the download check takes them, on a file held in memory.
bool IsWindowsProgram(const std::vector<unsigned char>& file)
{
    uint64_t offset = 0;
    if (!PeSignatureOffset(file.data(), file.size() < kDosHeaderSize ? file.size() : kDosHeaderSize,
                           file.size(), &offset))
        return false;
    return IsPeSignature(file.data() + offset, file.size() - offset);
}

}  // namespace

TEST(WindowsProgram, MinimalHeaderAndAHeaderFarIntoTheFilePass)
{
    EXPECT_TRUE(IsWindowsProgram(MinimalProgram()));
    EXPECT_TRUE(IsWindowsProgram(MinimalProgram(0x12345, 0x12345 + 4)));
    uint64_t offset = 0;
    const auto file = MinimalProgram(0x80, 0x100);
    ASSERT_TRUE(PeSignatureOffset(file.data(), kDosHeaderSize, file.size(), &offset));
    EXPECT_EQ(offset, 0x80u);
}

TEST(WindowsProgram, PagesAndTruncatedHeadersFail)
{
    const std::string html = "<html><head><title>Hotel WiFi</title></head><body>Log in</body></html>";
    EXPECT_FALSE(IsWindowsProgram(std::vector<unsigned char>(html.begin(), html.end())));
    EXPECT_FALSE(IsWindowsProgram({}));
    EXPECT_FALSE(IsWindowsProgram({'M', 'Z'}));
    // Cut inside the DOS header: no offset to read.
    auto cut = MinimalProgram();
    cut.resize(0x3E);
    EXPECT_FALSE(IsWindowsProgram(cut));
    // The offset is there, the signature it names is not: cut one byte short of it.
    cut = MinimalProgram();
    cut.resize(0x43);
    EXPECT_FALSE(IsWindowsProgram(cut));
}

TEST(WindowsProgram, OffsetsOutsideTheFileAndWrongMarksFail)
{
    EXPECT_FALSE(IsWindowsProgram(MinimalProgram(0x44, 0x44)));
    // Offsets that would wrap a 32-bit sum must not land back inside the file.
    EXPECT_FALSE(IsWindowsProgram(MinimalProgram(0xFFFFFFFE)));
    EXPECT_FALSE(IsWindowsProgram(MinimalProgram(0xFFFFFFFF)));
    auto file = MinimalProgram();
    file[1] = 'z';
    EXPECT_FALSE(IsWindowsProgram(file));
    file = MinimalProgram();
    file[0x42] = ' ';  // "PE \0"
    EXPECT_FALSE(IsWindowsProgram(file));
}
