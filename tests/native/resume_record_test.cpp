// The record a release run keeps beside an unfinished download, and the answers that may
// continue it. The record is read back by the next run with administrator rights, so anything
// that is not exactly a record is refused.
#include <gtest/gtest.h>

#include "download/portable/http_rules.h"
#include "download/portable/resume_record.h"

namespace {
ResumeRecord Sample()
{
    ResumeRecord record;
    record.address = L"https://download.tarvelo.com/setup/TarveloStage2.exe?x=\u00e9\\";
    record.totalLength = 3100000;
    record.validator = L"\"5f2a-17a1\"";
    record.written = 1590000;
    return record;
}
}  // namespace

TEST(ResumeRecord, RoundTripsAndKeepsItsLengthAsTheCountGrows)
{
    const ResumeRecord record = Sample();
    const std::string text = FormatResumeRecord(record);
    ResumeRecord read;
    ASSERT_TRUE(ParseResumeRecord(text, &read));
    EXPECT_EQ(read.address, record.address);
    EXPECT_EQ(read.totalLength, 3100000u);
    EXPECT_EQ(read.validator, record.validator);
    EXPECT_EQ(read.written, 1590000u);
    ResumeRecord more = record;
    more.written = 3100000;
    EXPECT_EQ(FormatResumeRecord(more).size(), text.size());
    EXPECT_NE(text.find("written 0001590000\r\n"), std::string::npos);
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST(ResumeRecord, RefusesAnythingElse)
{
    const std::string good = FormatResumeRecord(Sample());
    ResumeRecord read;
    auto refused = [&](const std::string& text) { return !ParseResumeRecord(text, &read); };
    EXPECT_TRUE(refused(""));
    EXPECT_TRUE(refused("garbage\r\n"));
    EXPECT_TRUE(refused(good.substr(0, good.size() - 2)));  // cut before the last CR LF
    EXPECT_TRUE(refused(good + "x"));
    std::string text = good;
    text.replace(text.find("written 0001590000"), 18, "written 0003100001");  // more than the length
    EXPECT_TRUE(refused(text));
    text = good;
    text.replace(text.find("written 0001590000"), 18, "written 1590000");  // not 10 digits
    EXPECT_TRUE(refused(text));
    text = good;
    text.replace(text.find("length 3100000"), 14, "length 0");
    EXPECT_TRUE(refused(text));
    text = good;
    text.replace(text.find("length 3100000"), 14, "length 4294967295");  // beyond 2 GiB
    EXPECT_TRUE(refused(text));
    // A validator that would put another header line into the request.
    ResumeRecord injected = Sample();
    injected.validator = L"\"a\"\r\nX-Evil: 1";
    EXPECT_TRUE(refused(FormatResumeRecord(injected)));
    injected.validator = L"";
    EXPECT_TRUE(refused(FormatResumeRecord(injected)));
    text = good;
    text.replace(text.find("\\u00E9"), 6, "\\u00G9");
    EXPECT_TRUE(refused(text));
    text = good;
    text.replace(text.find("\\u00E9"), 6, "\\u00");
    EXPECT_TRUE(refused(text));
    EXPECT_TRUE(refused(std::string(9000, 'a')));
}

TEST(ResumeRecord, OnlyAStrongETagOrADateValidatesARange)
{
    EXPECT_EQ(ChooseValidator(L"\"abc\"", L"Wed, 09 Dec 2026 10:00:00 GMT"), L"\"abc\"");
    EXPECT_EQ(ChooseValidator(L"W/\"abc\"", L"Wed, 09 Dec 2026 10:00:00 GMT"), L"Wed, 09 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(ChooseValidator(L"W/\"abc\"", L""), L"");
    EXPECT_EQ(ChooseValidator(L"abc", L""), L"");  // not a quoted tag
    EXPECT_EQ(ChooseValidator(L"", L"Wed,\r\n 09 Dec"), L"");
    EXPECT_EQ(MakeIfRangeHeader(L"\"abc\""), L"If-Range: \"abc\"\r\n");
    EXPECT_EQ(MakeIfRangeHeader(L""), L"");
    EXPECT_EQ(ResumeRecordPath(L"C:\\T\\a.exe"), L"C:\\T\\a.exe.resume");
}

TEST(ResumeRecord, OnlyARangeAtTheOffsetOfTheRecordedTotalContinuesAnEarlierRun)
{
    ResumeFacts facts;
    facts.status = 206;
    facts.resumeOffset = 1000;
    facts.knownTotal = 5000;
    facts.hasRange = true;
    facts.rangeFirst = 1000;
    facts.rangeTotal = 5000;
    EXPECT_TRUE(ProvesContinuation(facts));
    ResumeFacts other = facts;
    other.rangeFirst = 0;
    EXPECT_FALSE(ProvesContinuation(other));
    other = facts;
    other.rangeTotal = 5001;
    EXPECT_FALSE(ProvesContinuation(other));
    other = facts;
    other.rangeTotal = 0;  // "*": a total the server does not know cannot prove the same file
    EXPECT_FALSE(ProvesContinuation(other));
    other = facts;
    other.hasRange = false;  // a length of the rest alone is enough within a run, not across runs
    other.hasLength = true;
    other.length = 4000;
    EXPECT_FALSE(ProvesContinuation(other));
    EXPECT_EQ(ClassifyResumeAnswer(other), ResumeAnswer::Append);
    other = facts;
    other.status = 200;
    EXPECT_FALSE(ProvesContinuation(other));
}
