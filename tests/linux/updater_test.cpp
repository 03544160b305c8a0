// The built updater, end to end: a prefix with an old installation, answers on
// standard input, the files and messages that come out.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/update_plan.h"
#include "linux_test_support.h"
#include "payload/extract.h"
#include "payload/record.h"
#include "tests/fake/fake_records.h"

namespace {

const std::string Caption = "Quellstorm update 1.04";
const std::string QuestionBox =
    Caption + "\nQuellstormをバージョン1.04\nにアップデートします。\n書き換えてよろしいですか？\nOK or Cancel? [OK] ";
std::string MessageBox(const std::string& text) { return Caption + "\n" + text + "\n\n"; }

const char OldContents[] = "old";

struct Record {
    std::vector<uint8_t> bytes;
    int32_t timestamp;
};

// The bytes and time each plan entry must end up with, from the records the updater embeds.
const std::vector<Record>& ExpectedFiles() {
    static const std::vector<Record> records = [] {
        std::vector<Record> decoded;
        std::vector<uint8_t> output(DecodeBufferSize);
        for (const UpdateEntry& entry : UpdatePlan) {
            const std::string record = ReadText(fs::path(QUELLSTORM_RECORD_DIR) / UpperCase(entry.payload_name));
            PayloadHeader header{};
            const int32_t size = DecodePayloadRecord(reinterpret_cast<const uint8_t*>(record.data()),
                                                     uint32_t(record.size()), output.data(), DecodeBufferSize, &header);
            EXPECT_GE(size, 0) << entry.payload_name;
            decoded.push_back({std::vector<uint8_t>(output.begin(), output.begin() + std::max(size, 0)),
                               header.timestamp});
        }
        return decoded;
    }();
    return records;
}

class Updater : public testing::Test {
  protected:
    TempDir dir;
    fs::path prefix = dir.path / "prefix";
    fs::path install;

    // An old installation: the executable, one scenario file spelled as the
    // plan spells it and one spelled in another letter case.
    void SetUp() override {
        install = MakePrefix(prefix) / "Games" / "Quellstorm";
        WriteText(prefix / "user.reg", UserRegWithDataDir("C:\\Games\\Quellstorm\\"));
        WriteText(install / "Quellstorm.exe", OldContents);
        WriteText(install / "sinario" / "407AAS_1.MES", OldContents);
        WriteText(install / "sinario" / "system" / "203I_CON.MES", OldContents);
    }

    ChildResult Run(const char* binary, const std::string& input, bool unprivileged = false) {
        const std::string prefix_text = prefix.string();
        return RunInChild(
            [&] {
                setenv("WINEPREFIX", prefix_text.c_str(), 1);
                execl(binary, binary, static_cast<char*>(nullptr));
                return 127;
            },
            {.input = input, .unprivileged = unprivileged});
    }

    // Where entry `position` lands: its directory's existing spelling of its name, if any.
    fs::path Installed(int position) {
        const UpdateEntry& entry = UpdatePlan[position];
        fs::path directory = install;
        for (const char* subdir : entry.subdirs)
            if (subdir != nullptr) directory /= subdir;
        const std::string wanted = UpperCase(entry.file_name);
        std::error_code error;
        for (const fs::directory_entry& file : fs::directory_iterator(directory, error))
            if (UpperCase(file.path().filename().string()) == wanted) return file.path();
        return directory / entry.file_name;
    }

    void ExpectInstalled(int position) {
        const fs::path path = Installed(position);
        const Record& record = ExpectedFiles()[size_t(position)];
        // The times first: reading the file may move its access time on.
        const FileTimes times = TimesOf(path);
        EXPECT_EQ(times.access, record.timestamp) << path;
        EXPECT_EQ(times.write, record.timestamp) << path;
        EXPECT_TRUE(ReadText(path) == std::string(record.bytes.begin(), record.bytes.end()))
            << path << " holds other bytes than record " << UpdatePlan[position].payload_name;
    }

    std::vector<std::string> Tree() {
        std::vector<std::string> files;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(install)) {
            std::string line = fs::relative(entry.path(), install).string();
            if (entry.is_regular_file()) line.append(" ").append(ReadText(entry.path()));
            files.push_back(line);
        }
        std::sort(files.begin(), files.end());
        return files;
    }
};

TEST_F(Updater, OkInstallsAll48FilesWithTheirRecordsBytesAndTimes) {
    const ChildResult run = Run(QUELLSTORM_UPDATER, "\n");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, QuestionBox + "\n" + MessageBox("プログラムの更新が終了しました。"));
    for (int position = 0; position < UpdatePlanSize; ++position) ExpectInstalled(position);
    // The file spelled in another case was replaced, not joined by a second one.
    EXPECT_TRUE(fs::exists(install / "sinario" / "system" / "203I_CON.MES"));
    EXPECT_FALSE(fs::exists(install / "sinario" / "system" / "203i_con.MES"));
    size_t files = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(install)) files += entry.is_regular_file();
    EXPECT_EQ(files, 48u);
}

TEST_F(Updater, CancelOrNoAnswerWritesNothing) {
    const std::vector<std::string> before = Tree();
    const struct {
        const char* input;
        const char* after_prompt;
    } cases[] = {{"cancel\n", "\n"}, {"x\nn\n", "OK or Cancel? [OK] \n"}, {"", "\n\n"}};
    for (const auto& c : cases) {
        const ChildResult run = Run(QUELLSTORM_UPDATER, c.input);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.output, QuestionBox + c.after_prompt) << c.input;
        EXPECT_EQ(Tree(), before) << c.input;
    }
}

TEST_F(Updater, NotInstalledWithoutTheSetting) {
    const std::vector<std::string> before = Tree();
    WriteText(prefix / "user.reg", "WINE REGISTRY Version 2\n\n[Software\\\\Vantor\\\\Other]\n\"DataDir\"=\"C:\\\\x\"\n");
    const ChildResult run = Run(QUELLSTORM_UPDATER, "\n");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, MessageBox("Quellstormがインストールされていません。"));
    fs::remove(prefix / "user.reg");
    EXPECT_EQ(Run(QUELLSTORM_UPDATER, "\n").output, MessageBox("Quellstormがインストールされていません。"));
    EXPECT_EQ(Tree(), before);
}

TEST_F(Updater, ExecutableMissing) {
    fs::remove(install / "Quellstorm.exe");
    const std::vector<std::string> before = Tree();
    const ChildResult run = Run(QUELLSTORM_UPDATER, "\n");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, MessageBox("Quellstorm.exeが見つかりません。"));
    EXPECT_EQ(Tree(), before);
}

TEST_F(Updater, ReadOnlyExecutableStopsThePlanAtItsFirstFile) {
    chmod((install / "Quellstorm.exe").c_str(), 0444);
    const std::vector<std::string> before = Tree();
    // Root writes through file modes, so the update runs as nobody.
    const ChildResult run = Run(QUELLSTORM_UPDATER, "ok\n", true);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, QuestionBox + "\n" + MessageBox("Quellstorm.exeに書き込みできません。"));
    EXPECT_EQ(Tree(), before);
}

TEST_F(Updater, DirectoryNamedLikeTheExecutablePassesTheCheckButCannotBeWritten) {
    fs::remove(install / "Quellstorm.exe");
    fs::create_directory(install / "QUELLSTORM.EXE");
    const std::vector<std::string> before = Tree();
    const ChildResult run = Run(QUELLSTORM_UPDATER, "\n");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, QuestionBox + "\n" + MessageBox("Quellstorm.exeに書き込みできません。"));
    EXPECT_EQ(Tree(), before);
}

TEST_F(Updater, MissingRecordStopsThePlanAfterPosition16WithItsOwnMessageOnly) {
    const ChildResult run = Run(QUELLSTORM_UPDATER_WITHOUT_2020, "y\n");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, QuestionBox + "\n" + "2020.PCK\nリソースが見つかりません\n\n");
    for (int position = 0; position < 16; ++position) ExpectInstalled(position);
    for (int position = 16; position < UpdatePlanSize; ++position) {
        const fs::path path = Installed(position);
        if (UpdatePlan[position].file_name == std::string("203i_con.MES"))
            EXPECT_EQ(ReadText(path), OldContents);
        else
            EXPECT_FALSE(fs::exists(path)) << path;
    }
    EXPECT_FALSE(fs::exists(install / "sinario" / "system" / "203i_con.MES"));
}

} // namespace
