// What a release exe reads of the inputs it carries: file names in its cabinet, and the layout of
// a skin bitmap held in memory, which must never let a read step outside the bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/portable/carried_inputs.h"
#include "ui/controls/portable/bitmap_file.h"
#include "ui/controls/portable/skin_path.h"

TEST(CarriedNames, MatchIgnoringCaseAndSeparatorButNothingElse)
{
    EXPECT_TRUE(Carried::IsName("Images\\150\\Small.bmp", L"\\Images\\150\\Small.bmp"));
    EXPECT_TRUE(Carried::IsName("Images\\Small.bmp", L"images/SMALL.BMP"));
    EXPECT_TRUE(Carried::IsName("ConfigFile.txt", L"ConfigFile.txt"));
    EXPECT_FALSE(Carried::IsName("ConfigFile.txt", L"ConfigFile.txt "));
    EXPECT_FALSE(Carried::IsName("ConfigFile.txt", L"ConfigFile.tx"));
    EXPECT_FALSE(Carried::IsName("Resource-en-GB.txt", L"Resource-\u00e9n-GB.txt"));
    // Only one leading separator is the caller's; the stored name never has one.
    EXPECT_FALSE(Carried::IsName("Images\\Small.bmp", L"\\\\Images\\Small.bmp"));
    EXPECT_FALSE(Carried::IsName("", L""));
    EXPECT_FALSE(Carried::IsName(nullptr, L"x"));
    EXPECT_FALSE(Carried::IsName("Caf\xe9.txt", L"Caf\u00e9.txt"));
}

TEST(SkinSets, OtherScalesLieInAFolderNamedByThePercentage)
{
    EXPECT_EQ(SkinImageNameForSet(kSkinSmallBackground, 150), L"\\Images\\150\\Small.bmp");
    EXPECT_EQ(SkinImageNameForSet(kSkinCloseDisabled, 200), L"\\Images\\200\\Disabled.bmp");
    EXPECT_EQ(SkinImageNameForSet(kSkinSmallBackground, 100), kSkinSmallBackground);
    EXPECT_EQ(SkinImageNameForSet(kSkinSmallBackground, 0), kSkinSmallBackground);
    EXPECT_EQ(SkinImageNameForSet(L"\\Other\\Small.bmp", 150), L"\\Other\\Small.bmp");
}

namespace {

void Put(std::vector<unsigned char>& bytes, size_t at, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A bitmap file of the given header fields, with `pixels` bytes after a table of `colours`.
std::vector<unsigned char> BitmapFile(int32_t width, int32_t height, uint16_t bits, uint32_t colours,
                                      size_t pixels, uint32_t compression = 0)
{
    std::vector<unsigned char> bytes(14 + 40 + colours * 4 + pixels);
    bytes[0] = 'B';
    bytes[1] = 'M';
    Put(bytes, 2, static_cast<uint32_t>(bytes.size()), 4);
    Put(bytes, 10, static_cast<uint32_t>(14 + 40 + colours * 4), 4);
    Put(bytes, 14, 40, 4);
    Put(bytes, 18, static_cast<uint32_t>(width), 4);
    Put(bytes, 22, static_cast<uint32_t>(height), 4);
    Put(bytes, 26, 1, 2);
    Put(bytes, 28, bits, 2);
    Put(bytes, 30, compression, 4);
    Put(bytes, 46, colours, 4);
    return bytes;
}

}  // namespace

TEST(BitmapFileLayout, AcceptsWhatLiesInsideTheBytes)
{
    BitmapFileLayout layout;
    // 3 pixels of 24 bits: rows of 9 bytes padded to 12.
    std::vector<unsigned char> file = BitmapFile(3, 2, 24, 0, 24);
    ASSERT_TRUE(ReadBitmapFileLayout(file.data(), file.size(), &layout));
    EXPECT_EQ(layout.pixelOffset, 54u);
    EXPECT_EQ(layout.pixelBytes, 24u);
    file = BitmapFile(5, -4, 8, 16, 32);  // top-down, 16 colours in the table
    ASSERT_TRUE(ReadBitmapFileLayout(file.data(), file.size(), &layout));
    EXPECT_EQ(layout.pixelOffset, 54u + 64u);
    EXPECT_EQ(layout.height, -4);
}

TEST(BitmapFileLayout, RefusesAnythingThatWouldReadOutsideOrIsNotPlainPixels)
{
    BitmapFileLayout layout;
    std::vector<unsigned char> file = BitmapFile(3, 2, 24, 0, 23);  // one pixel byte short
    EXPECT_FALSE(ReadBitmapFileLayout(file.data(), file.size(), &layout));
    file = BitmapFile(3, 2, 24, 0, 24, 1);  // run-length encoded
    EXPECT_FALSE(ReadBitmapFileLayout(file.data(), file.size(), &layout));
    file = BitmapFile(2, 2, 8, 257, 8);  // more colours than 8 bits can index
    EXPECT_FALSE(ReadBitmapFileLayout(file.data(), file.size(), &layout));
    file = BitmapFile(0x7FFFFFFF, 1, 32, 0, 16);  // a width whose rows would overflow
    EXPECT_FALSE(ReadBitmapFileLayout(file.data(), file.size(), &layout));
    file = BitmapFile(2, 0, 24, 0, 16);
    EXPECT_FALSE(ReadBitmapFileLayout(file.data(), file.size(), &layout));
    file = BitmapFile(2, 2, 16, 0, 16);  // 16-bit pixels need masks
    EXPECT_FALSE(ReadBitmapFileLayout(file.data(), file.size(), &layout));
    file = BitmapFile(2, 2, 24, 0, 16);
    Put(file, 10, 0xFFFFFFF0u, 4);  // pixels "after" the end
    EXPECT_FALSE(ReadBitmapFileLayout(file.data(), file.size(), &layout));
    Put(file, 10, 54, 4);
    Put(file, 14, 0xFFFFFFF0u, 4);  // a header longer than the file
    EXPECT_FALSE(ReadBitmapFileLayout(file.data(), file.size(), &layout));
    EXPECT_FALSE(ReadBitmapFileLayout(file.data(), 40, &layout));
    EXPECT_FALSE(ReadBitmapFileLayout(nullptr, 0, &layout));
}
