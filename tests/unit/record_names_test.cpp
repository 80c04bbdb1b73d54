// What `tolvane record` works out on its own for a long recording: the names
// of its files from the output pattern, the durations and sizes it is
// given, and the lines of its --log.
#include <gtest/gtest.h>

#include <string>

#include "file_name_pattern.h"
#include "files.h"
#include "finished_file_log.h"
#include "part_files.h"
#include "read_back_file.h"
#include "wav_bytes.h"
#include "record_options.h"
#include "utc_time.h"

namespace tolvane::cli {
namespace {

FileNamePattern Parsed(const std::string& text) {
    FileNamePattern pattern;
    std::string problem;
    EXPECT_TRUE(pattern.Parse(text, problem)) << problem;
    return pattern;
}

// Unix times checked against `date -u -d @T`.
TEST(RecordNames, FieldsAreTheUtcTimeOfTheFirstSampleAndTheFileNumber) {
    const FileNamePattern p = Parsed("site/x-%Y%m%dT%H%M%SZ-%N-%j-%F_%T-%s-%%N.wav");
    EXPECT_EQ(p.Expand(0, 1), "site/x-19700101T000000Z-0001-001-1970-01-01_00:00:00-0-%N.wav");
    // 2024 is a leap year: 29 February, day 60, and 31 December, day 366.
    EXPECT_EQ(p.Expand(1709208000999, 12), "site/x-20240229T120000Z-0012-060-2024-02-29_12:00:00-1709208000-%N.wav");
    EXPECT_EQ(p.Expand(1735689599000, 12345),
              "site/x-20241231T235959Z-12345-366-2024-12-31_23:59:59-1735689599-%N.wav");
    // 2100 is not: 1 March is day 60.
    EXPECT_EQ(Parsed("%F %j").Expand(4107542400000, 1), "2100-03-01 060");
    EXPECT_EQ(Iso8601(1709208000999), "2024-02-29T12:00:00.999Z");
    EXPECT_EQ(Iso8601(-1), "1969-12-31T23:59:59.999Z");
}

TEST(RecordNames, UnknownFieldsAndFieldsInTheFolderAreRefused) {
    for (const char* text : {"x-%q.wav", "x-%", "x-%Ez.wav", "%Y/x.wav", "dir%d/x.wav", "dir/"}) {
        FileNamePattern pattern;
        std::string problem;
        EXPECT_FALSE(pattern.Parse(text, problem)) << text;
        EXPECT_FALSE(problem.empty());
    }
}

TEST(RecordNames, TakenNamesAreNumberedBeforeTheExtension) {
    EXPECT_EQ(NumberedPath("dir/x-20240229T120000Z.wav", 2), "dir/x-20240229T120000Z-2.wav");
    EXPECT_EQ(NumberedPath("dir.d/take", 3), "dir.d/take-3");
    EXPECT_EQ(NumberedPath(".hidden", 2), ".hidden-2");
    // What recovery looks for: the text before the first field and the extension.
    const FileNamePattern p = Parsed("rec/site1-%Y%m%dT%H%M%SZ.wav");
    EXPECT_TRUE(p.MayHaveMade("site1-20240229T120000Z.wav"));
    EXPECT_TRUE(p.MayHaveMade("site1-20240229T120000Z-2.wav"));
    EXPECT_FALSE(p.MayHaveMade("site2-20240229T120000Z.wav"));
    EXPECT_FALSE(p.MayHaveMade("site1-20240229T120000Z.flac"));
    EXPECT_TRUE(Parsed("take.wav").MayHaveMade("take-2.wav"));
    EXPECT_FALSE(Parsed("take.wav").MayHaveMade("other.wav"));
}

TEST(RecordOptions, DurationsAndSizesTakeTheirUnitsAndNothingElse) {
    std::uint64_t n = 0;
    const std::pair<const char*, std::uint64_t> durations[] = {{"900", 900}, {"900s", 900}, {"15m", 900},
                                                               {"1h", 3600}, {"2D", 172800}};
    for (const auto& [text, seconds] : durations) {
        EXPECT_TRUE(ParseDuration(text, n) && n == seconds) << text;
    }
    for (const char* text : {"", "0", "0m", "m", "1.5h", "-1", "15 m", "1h30m", "15min", "9999999999999999"}) {
        EXPECT_FALSE(ParseDuration(text, n)) << text;
    }
    EXPECT_TRUE(ParseSize("64K", n) && n == 65536);
    EXPECT_TRUE(ParseSize("2GiB", n) && n == 2147483648ull);
    EXPECT_TRUE(ParseSize("500mb", n) && n == 524288000ull);
    EXPECT_FALSE(ParseSize("2X", n));
    EXPECT_FALSE(ParseSize("0G", n));
    // Numbers that wrap once multiplied by their unit are refused, not
    // taken for small ones.
    EXPECT_FALSE(ParseSize("999999999999999T", n));
    EXPECT_FALSE(ParseDuration("999999999999999d", n));

    // --split up to the longest file, the 2 GiB limit's.
    char name[] = "x.wav";
    char split[] = "--split";
    char longest[] = "134200";
    char longer[] = "134201";
    RecordOptions options;
    std::string problem;
    char* fits[] = {name, split, longest};
    EXPECT_TRUE(ParseRecordOptions(3, fits, options, problem)) << problem;
    EXPECT_EQ(options.splitSeconds, kLongestFileSeconds);
    char* tooLong[] = {name, split, longer};
    EXPECT_FALSE(ParseRecordOptions(3, tooLong, options, problem));
}

TEST(FinishedFileLog, EachLineIsOneJsonObjectWithTheNameEscaped) {
    FinishedFile file;
    file.path = "dir/\"odd\"\\name\n.wav";
    file.firstSampleUnixMs = 1709208000000;
    file.seconds = 900;
    file.finishedUnixMs = 1709208900250;
    file.lostSeconds = 1.5;
    file.end = FileEnd::kDiskFull;
    EXPECT_EQ(LogLine(file),
              "{\"file\":\"dir/\\\"odd\\\"\\\\name\\u000a.wav\",\"first_sample_utc\":\"2024-02-29T12:00:00.000Z\","
              "\"seconds\":900,\"finished_utc\":\"2024-02-29T12:15:00.250Z\",\"lost_seconds\":1.5,"
              "\"ended\":\"disk full\"}\n");
}

// What a power cut leaves is recovered as exactly what its header counts;
// a .part that a running recording still holds open is left alone.
TEST(RecoverParts, AnUnfinishedFileIsCutToItsCountedSecondsAndALiveOneIsLeftAlone) {
    const test::ScratchDir dir;
    const std::string left = dir / "x-0001.wav.part", live = dir / "x-0002.wav.part";
    test::Bytes cut = test::WavHeaderBytes(8000, 16000);
    cut.resize(44 + 16000 + 16000 + 7, 1);  // one durable second uncounted, and part of one
    test::WriteFile(left, cut);
    test::WriteFile(live, test::WavHeaderBytes(8000, 0));
    Utf16Path wide;
    ASSERT_TRUE(Utf8ToUtf16(live.c_str(), wide));
    ReadBackFile running;  // as the running recording's monitor holds it
    ASSERT_TRUE(running.Open(live.c_str(), wide));

    FileNamePattern pattern;
    std::string problem;
    ASSERT_TRUE(pattern.Parse(dir / "x-%N.wav", problem)) << problem;
    RecoverParts(pattern);

    cut.resize(44 + 16000);
    EXPECT_EQ(test::ReadFile(dir / "x-0001.wav"), cut);
    EXPECT_FALSE(test::Exists(left));
    EXPECT_TRUE(test::Exists(live));
    EXPECT_FALSE(test::Exists(dir / "x-0002.wav"));
}

}  // namespace
}  // namespace tolvane::cli
