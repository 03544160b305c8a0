// Extraction through the real Linux file calls into a real prefix.

#include <gtest/gtest.h>

#include <string>

#include "linux_test_support.h"
#include "payload/extract.h"
#include "platform/linux/linux_platform.h"
#include "test_store.h"

namespace {

const std::string MissingPayloadBox(const std::string& caption) {
    return caption + "\nリソースが見つかりません\n\n";
}

class ExtractToDisk : public testing::Test {
  protected:
    TempDir dir;
    fs::path game;

    void SetUp() override {
        game = MakePrefix(dir.path / "prefix") / "Game";
        fs::create_directories(game);
        setenv("WINEPREFIX", (dir.path / "prefix").c_str(), 1);
    }
    void TearDown() override { unsetenv("WINEPREFIX"); }

    // An old file with an old time, to show what was or was not touched.
    fs::path OldFile(const std::string& name) {
        const fs::path path = game / name;
        WriteText(path, "old contents, longer than some new ones");
        const timespec old_times[2] = {{1000, 0}, {1000, 0}};
        utimensat(AT_FDCWD, path.c_str(), old_times, 0);
        return path;
    }
    void ExpectUntouched(const fs::path& path) {
        EXPECT_EQ(ReadText(path), "old contents, longer than some new ones");
        EXPECT_EQ(TimesOf(path).write, 1000);
    }
};

// A result as a child's exit code: ExtractNoPayload is -1.
int ExitCodeOf(ExtractResult result) { return int(result) + 10; }

TEST_F(ExtractToDisk, WritesTheExactBytesAndBothTimes) {
    ASSERT_EQ(ExtractPayload("C:\\Game\\203I_CON.MES", "good.pck"), ExtractOk);
    // The times first: reading the file may move its access time on.
    const FileTimes times = TimesOf(game / "203I_CON.MES");
    EXPECT_EQ(times.access, TestGoodTime);
    EXPECT_EQ(times.write, TestGoodTime);
    EXPECT_EQ(ReadText(game / "203I_CON.MES"), TestGoodContents);
}

TEST_F(ExtractToDisk, ReplacesAnExistingFileWhateverTheCaseOfItsName) {
    OldFile("203I_CON.MES");
    ASSERT_EQ(ExtractPayload("c:\\game\\203i_con.MES", "GOOD.PCK"), ExtractOk);
    EXPECT_EQ(ReadText(game / "203I_CON.MES"), TestGoodContents);
    EXPECT_EQ(TimesOf(game / "203I_CON.MES").write, TestGoodTime);
    EXPECT_FALSE(fs::exists(game / "203i_con.MES"));
}

TEST_F(ExtractToDisk, EmptyRecordGivesAnEmptyFileWithItsTime) {
    OldFile("e.MES");
    ASSERT_EQ(ExtractPayload("C:\\Game\\e.MES", "EMPTY.PCK"), ExtractOk);
    EXPECT_EQ(fs::file_size(game / "e.MES"), 0u);
    const FileTimes times = TimesOf(game / "e.MES");
    EXPECT_EQ(times.access, TestEmptyTime);
    EXPECT_EQ(times.write, TestEmptyTime);
}

TEST_F(ExtractToDisk, ReadOnlyTargetCannotBeCreatedAndStaysAsItWas) {
    const fs::path target = OldFile("Quellstorm.exe");
    chmod(target.c_str(), 0444);
    // Root writes through file modes, so the update runs as nobody.
    const ChildResult child =
        RunInChild([] { return ExitCodeOf(ExtractPayload("C:\\Game\\Quellstorm.exe", "GOOD.PCK")); },
                   {.input = "", .unprivileged = true});
    EXPECT_EQ(child.exit_code, ExitCodeOf(ExtractCannotCreate));
    ExpectUntouched(target);
}

TEST_F(ExtractToDisk, MissingDirectoryCannotBeCreated) {
    EXPECT_EQ(ExtractPayload("C:\\Game\\sinario\\a.MES", "GOOD.PCK"), ExtractCannotCreate);
    EXPECT_FALSE(fs::exists(game / "sinario"));
    EXPECT_EQ(ExtractPayload("Q:\\Game\\a.MES", "GOOD.PCK"), ExtractCannotCreate);
}

TEST_F(ExtractToDisk, ShortWriteOnAFullDiskKeepsWhatWasStored) {
    const fs::path target = OldFile("big.MES");
    const ChildResult child = RunInChild([] { return ExitCodeOf(ExtractPayload("C:\\Game\\big.MES", "LARGE.PCK")); },
                                         {.input = "", .unprivileged = false, .file_size_limit = 1000});
    EXPECT_EQ(child.exit_code, ExitCodeOf(ExtractShortWrite));
    EXPECT_EQ(ReadText(target), std::string(1000, 'L'));
    EXPECT_NE(TimesOf(target).write, TestGoodTime);
}

class UnusableRecord : public ExtractToDisk, public testing::WithParamInterface<const char*> {};

TEST_P(UnusableRecord, IsReportedUnderTheNameAskedForAndTouchesNothing) {
    const std::string name = GetParam();
    const fs::path target = OldFile("a.MES");
    const ChildResult child = RunInChild([&name] {
        const int old_file = ExitCodeOf(ExtractPayload("C:\\Game\\a.MES", name.c_str()));
        const int new_file = ExitCodeOf(ExtractPayload("C:\\Game\\b.MES", name.c_str()));
        return old_file == new_file ? old_file : 0;
    });
    EXPECT_EQ(child.exit_code, ExitCodeOf(ExtractNoPayload));
    EXPECT_EQ(child.output, MissingPayloadBox(name) + MissingPayloadBox(name));
    ExpectUntouched(target);
    EXPECT_FALSE(fs::exists(game / "b.MES"));
}

INSTANTIATE_TEST_SUITE_P(MissingOrMalformed, UnusableRecord,
                         testing::Values("nothere.PCK", "truncated.pck", "BadStream.PCK", "OVERSIZE.PCK"));

} // namespace
