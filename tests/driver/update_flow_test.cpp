#include "driver/update_flow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "driver/update_plan.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_records.h"

namespace {

constexpr char Exe[] = "C:\\Game\\Quellstorm.exe";

struct Box {
    std::string text;
    std::string caption;
    DialogStyle style;

    bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Box& box) {
    return out << "{" << box.caption << ": " << box.text << (box.style == DialogQuestion ? " [question]" : "") << "}";
}

const Box NotInstalled{"Quellstormがインストールされていません。", "Quellstorm update 1.04", DialogMessage};
const Box ExeMissing{"Quellstorm.exeが見つかりません。", "Quellstorm update 1.04", DialogMessage};
const Box Question{"Quellstormをバージョン1.04\nにアップデートします。\n書き換えてよろしいですか？", "Quellstorm update 1.04",
                   DialogQuestion};
const Box Finished{"プログラムの更新が終了しました。", "Quellstorm update 1.04", DialogMessage};
const Box CannotWrite{"Quellstorm.exeに書き込みできません。", "Quellstorm update 1.04", DialogMessage};
const Box DiskFull{"書き込みに失敗しました。\nディスク領域が不足しています。\nディスクの空き領域を増やしてから、もう一度実行してください。",
                   "Quellstorm update 1.04", DialogMessage};
const Box Missing2020{"リソースが見つかりません", "2020.PCK", DialogMessage};

std::vector<Box> Boxes() {
    std::vector<Box> boxes;
    for (int i = 0; i < Fake.dialog_count; ++i)
        boxes.push_back({Fake.dialogs[i].text, Fake.dialogs[i].caption, Fake.dialogs[i].style});
    return boxes;
}

// The files the run opened, in order.
std::vector<std::string> OpenedFiles() {
    std::vector<std::string> opened;
    for (int i = 0; i < Fake.event_count; ++i)
        if (std::strncmp(Fake.events[i], "open ", 5) == 0) opened.push_back(Fake.events[i] + 5);
    return opened;
}

std::vector<std::string> Events() { return {Fake.events, Fake.events + Fake.event_count}; }

// The plan's target paths under "C:\Game", positions `first` to `last` (1-based).
std::vector<std::string> PlanPaths(int first, int last) {
    std::vector<std::string> paths;
    for (int i = first - 1; i < last; ++i) {
        std::string path = "C:\\Game";
        for (const char* subdir : UpdatePlan[i].subdirs)
            if (subdir != nullptr) path += std::string("\\") + subdir;
        paths.push_back(path + "\\" + UpdatePlan[i].file_name);
    }
    return paths;
}

// A fake installation: every payload of the plan in the store under its upper-case name.
class UpdateFlow : public testing::Test {
protected:
    void SetUp() override {
        ResetFake();
        for (const UpdateEntry& entry : UpdatePlan) {
            names_.push_back(UpperCase(entry.payload_name));
            records_.push_back(LiteralRecord(std::string("new ") + entry.file_name, 981100324));
        }
        auto record = records_.begin();
        for (const std::string& name : names_) {
            AddFakePayload(name.c_str(), record->data(), uint32_t(record->size()));
            ++record;
        }
    }

    static void RemoveFromStore(const std::string& name) {
        for (int i = 0; i < Fake.payload_count; ++i)
            if (Fake.payloads[i].name == name) Fake.payloads[i].name = "";
    }

    std::list<std::string> names_;
    std::list<std::vector<uint8_t>> records_;
};

struct OutcomeCase {
    const char* name;
    const char* data_dir;        // null: no value
    bool executable_present;
    DialogAnswer answer;
    int unopenable_position;     // 0: none
    int short_write_position;    // 0: none
    std::vector<Box> boxes;
    int files_written;           // the first n files of the plan
};

class Outcome : public UpdateFlow, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(Outcome, ShowsItsBoxesAndTouchesItsFiles) {
    const OutcomeCase& c = GetParam();
    const std::vector<std::string> all_paths = PlanPaths(1, UpdatePlanSize);
    if (c.data_dir != nullptr) SetFakeDataDir(c.data_dir);
    if (c.executable_present) Fake.existing_paths[0] = Exe;
    Fake.question_answer = c.answer;
    if (c.unopenable_position > 0) Fake.unopenable_path = all_paths[size_t(c.unopenable_position - 1)].c_str();
    if (c.short_write_position > 0) Fake.short_write_path = all_paths[size_t(c.short_write_position - 1)].c_str();

    EXPECT_EQ(RunUpdater(), 0);

    EXPECT_EQ(Boxes(), c.boxes);
    std::vector<std::string> expected_opened(all_paths.begin(), all_paths.begin() + c.files_written);
    if (c.short_write_position > 0) expected_opened.push_back(all_paths[size_t(c.short_write_position - 1)]);
    EXPECT_EQ(OpenedFiles(), expected_opened);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Outcome,
    testing::Values(
        OutcomeCase{"no_value", nullptr, true, DialogAnswerOk, 0, 0, {NotInstalled}, 0},
        OutcomeCase{"empty_value", "", true, DialogAnswerOk, 0, 0, {NotInstalled}, 0},
        OutcomeCase{"executable_missing", "C:\\Game", false, DialogAnswerOk, 0, 0, {ExeMissing}, 0},
        OutcomeCase{"cancel", "C:\\Game", true, DialogAnswerCancel, 0, 0, {Question}, 0},
        OutcomeCase{"no_answer", "C:\\Game", true, DialogNoAnswer, 0, 0, {Question}, 0},
        OutcomeCase{"all_written", "C:\\Game\\", true, DialogAnswerOk, 0, 0, {Question, Finished}, 48},
        // A directory named like the executable passes the check, then cannot be opened.
        OutcomeCase{"executable_unopenable", "C:\\Game", true, DialogAnswerOk, 1, 0, {Question, CannotWrite}, 0},
        // Whichever file fails to open, the message names the executable.
        OutcomeCase{"scenario_unopenable", "C:\\Game", true, DialogAnswerOk, 40, 0, {Question, CannotWrite}, 39},
        OutcomeCase{"short_write", "C:\\Game", true, DialogAnswerOk, 0, 5, {Question, DiskFull}, 4}),
    [](const testing::TestParamInfo<OutcomeCase>& test_case) { return test_case.param.name; });

TEST_F(UpdateFlow, MissingPayloadShowsOnlyItsOwnBoxAndStopsThePlan) {
    RemoveFromStore("2020.PCK");
    SetFakeDataDir("C:\\Game");
    Fake.existing_paths[0] = Exe;
    RunUpdater();
    EXPECT_EQ(Boxes(), (std::vector<Box>{Question, Missing2020}));
    EXPECT_EQ(OpenedFiles(), PlanPaths(1, 16));
}

TEST_F(UpdateFlow, CreatesEachEntrysDirectoriesBeforeItsFileAndStampsEveryFile) {
    SetFakeDataDir("C:\\Game");
    Fake.existing_paths[0] = Exe;
    RunUpdater();
    const std::vector<std::string> events = Events();
    ASSERT_GE(events.size(), size_t(9));
    // The executable goes straight into the installation directory.
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 9),
              (std::vector<std::string>{"open C:\\Game\\Quellstorm.exe", "write C:\\Game\\Quellstorm.exe 18",
                                        "close C:\\Game\\Quellstorm.exe", "times C:\\Game\\Quellstorm.exe 981100324",
                                        "mkdir C:\\Game\\sinario", "open C:\\Game\\sinario\\407AAS_1.MES",
                                        "write C:\\Game\\sinario\\407AAS_1.MES 16", "close C:\\Game\\sinario\\407AAS_1.MES",
                                        "times C:\\Game\\sinario\\407AAS_1.MES 981100324"}));
    int sinario = 0;
    int system = 0;
    int stamped = 0;
    for (const std::string& event : events) {
        sinario += event == "mkdir C:\\Game\\sinario";
        system += event == "mkdir C:\\Game\\sinario\\system";
        stamped += event.rfind("times ", 0) == 0;
    }
    EXPECT_EQ(sinario, 47);  // asked for again by every scenario file
    EXPECT_EQ(system, 4);
    EXPECT_EQ(stamped, 48);
}

struct PathCase {
    const char* name;
    std::string data_dir;
    std::string executable;  // where the executable is looked for
};

class InstallDirNormalisation : public testing::TestWithParam<PathCase> {};

TEST_P(InstallDirNormalisation, ComposesTheExecutablePath) {
    ResetFake();
    SetFakeDataDir(GetParam().data_dir.c_str());
    ReadDataDir();
    ASSERT_NE(InstallDir[0], '\0');
    CheckInstallation(TargetPath, InstallDir);
    EXPECT_EQ(std::string(TargetPath), GetParam().executable);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, InstallDirNormalisation,
    testing::Values(PathCase{"no_trailing_backslash", "C:\\Game", "C:\\Game\\Quellstorm.exe"},
                    PathCase{"trailing_backslash", "C:\\Game\\", "C:\\Game\\Quellstorm.exe"},
                    PathCase{"only_one_backslash_dropped", "C:\\Game\\\\", "C:\\Game\\\\Quellstorm.exe"},
                    PathCase{"drive_root", "C:\\", "C:\\Quellstorm.exe"},
                    PathCase{"lone_backslash", "\\", "\\Quellstorm.exe"},
                    PathCase{"japanese", "C:\\ゲーム\\クエルシュトルム\\", "C:\\ゲーム\\クエルシュトルム\\Quellstorm.exe"}),
    [](const testing::TestParamInfo<PathCase>& test_case) { return test_case.param.name; });

TEST(ReadDataDir, ValueFillingTheBufferWithoutTerminatorCountsAsAbsent) {
    ResetFake();
    Fake.setting_present = true;
    Fake.setting_size = PathBufferSize;
    std::memset(Fake.setting, 'a', PathBufferSize);
    std::memcpy(InstallDir, "stale", 6);
    ReadDataDir();
    EXPECT_EQ(InstallDir[0], '\0');

    // 259 characters and the terminator still fit.
    Fake.setting[PathBufferSize - 1] = '\0';
    ReadDataDir();
    EXPECT_EQ(std::strlen(InstallDir), size_t(PathBufferSize - 1));
}

TEST_F(UpdateFlow, PathsThatWouldNotFitAreNeverCutShort) {
    // The executable's path needs 15 bytes more than the directory, the rows
    // under "system" 28: with 232 characters those no longer fit.
    std::string directory = "C:\\" + std::string(229, 'd');
    ASSERT_EQ(directory.size(), size_t(232));
    SetFakeDataDir(directory.c_str());
    Fake.existing_paths[0] = nullptr;
    const std::string executable = directory + "\\Quellstorm.exe";
    Fake.existing_paths[0] = executable.c_str();
    RunUpdater();
    EXPECT_EQ(Boxes(), (std::vector<Box>{Question, CannotWrite}));
    const std::vector<std::string> opened = OpenedFiles();
    ASSERT_EQ(opened.size(), size_t(39));
    for (const std::string& path : opened) EXPECT_LT(path.size(), size_t(PathBufferSize));

    // Long enough that even the executable's path does not fit: it is not there.
    ResetFake();
    SetFakeDataDir(("C:\\" + std::string(250, 'd')).c_str());
    RunUpdater();
    EXPECT_EQ(Boxes(), (std::vector<Box>{ExeMissing}));
}

} // namespace
