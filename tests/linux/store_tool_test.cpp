// quellstorm-store on payload directories with faults: the build must stop and
// name each offending record, and a sound directory becomes a store.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "linux_test_support.h"
#include "payload/extract.h"

namespace {

ChildResult RunStoreTool(const std::vector<std::string>& arguments) {
    return RunInChild([&arguments] {
        dup2(STDOUT_FILENO, STDERR_FILENO); // the faults go to standard error
        std::vector<char*> argv{const_cast<char*>(QUELLSTORM_STORE_TOOL)};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(QUELLSTORM_STORE_TOOL, argv.data());
        return 127;
    });
}

// A copy of the embedded sample records to spoil.
fs::path CopyRecords(const fs::path& to) {
    fs::create_directories(to);
    for (const fs::directory_entry& entry : fs::directory_iterator(QUELLSTORM_RECORD_DIR))
        fs::copy_file(entry.path(), to / entry.path().filename());
    return to;
}

// A sound stream that decodes one byte past the decode buffer: a literal, then
// matches of 65,537 bytes and one of the rest.
std::string OversizeRecord() {
    std::string stream = std::string(1, '\x01') + "a";
    int32_t produced = 1;
    for (int item = 1; produced <= DecodeBufferSize; ++item) {
        if (item % 8 == 0) stream += '\0';
        const int32_t length = std::min<int32_t>(65537, DecodeBufferSize + 1 - produced);
        stream += {'\x7F', char((length - 2) & 0xFF), char((length - 2) >> 8), '\x01', '\x00'};
        produced += length;
    }
    const uint32_t size = uint32_t(stream.size());
    return std::string{char(size), char(size >> 8), 0, 0, 1, 0, 0, 0} + stream;
}

struct FaultCase {
    const char* name;
    std::function<void(const fs::path&)> spoil;
    std::vector<std::string> reported; // each must appear in the tool's output
};

class StoreToolFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(StoreToolFaults, FailTheBuildNamingEachOffendingRecord) {
    TempDir dir;
    const fs::path records = CopyRecords(dir.path / "records");
    GetParam().spoil(records);
    const ChildResult run = RunStoreTool({records.string(), "--cpp", (dir.path / "store.cpp").string()});
    EXPECT_EQ(run.exit_code, 1);
    for (const std::string& text : GetParam().reported) EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(dir.path / "store.cpp"));
}

void Cut(const fs::path& path, int bytes) { fs::resize_file(path, fs::file_size(path) - uintmax_t(bytes)); }

INSTANTIATE_TEST_SUITE_P(
    Faults, StoreToolFaults,
    testing::Values(
        FaultCase{"MissingRecord", [](const fs::path& r) { fs::remove(r / "2020.PCK"); },
                  {"2020.PCK: no record"}},
        FaultCase{"TwoRecordsOneName",
                  [](const fs::path& r) { fs::copy_file(r / "1030.PCK", r / "1030.pck"); },
                  {"1030.PCK: several records share this name"}},
        FaultCase{"NotInThePlan", [](const fs::path& r) { fs::copy_file(r / "1030.PCK", r / "1031.PCK"); },
                  {"1031.PCK: not a payload of the update"}},
        FaultCase{"HeaderClaimsMore", [](const fs::path& r) { Cut(r / "MHH_2.PCK", 1); },
                  {"MHH_2.PCK: malformed record"}},
        FaultCase{"BytesAfterTheStream",
                  [](const fs::path& r) { std::ofstream(r / "MHH_2.PCK", std::ios::app) << "x"; },
                  {"MHH_2.PCK: malformed record: the file goes on past its packed stream"}},
        FaultCase{"DecodesPastTheBuffer", [](const fs::path& r) { WriteText(r / "4R08.PCK", OversizeRecord()); },
                  {"4R08.PCK: decodes to more than 1,400,000 bytes"}},
        FaultCase{"SeveralAtOnce",
                  [](const fs::path& r) {
                      fs::remove(r / "QUELLSTORM.PCK");
                      Cut(r / "3R07_A0.PCK", 3);
                      WriteText(r / "209A_CON.PCK", "");
                  },
                  {"QUELLSTORM.PCK: no record", "3R07_A0.PCK: malformed", "209A_CON.PCK: malformed"}}),
    [](const testing::TestParamInfo<FaultCase>& fault) { return std::string(fault.param.name); });

// The decode-buffer bound is exact: one byte less is a sound record.
TEST(StoreTool, RecordDecodingToExactlyTheBufferIsSound) {
    TempDir dir;
    const fs::path records = CopyRecords(dir.path / "records");
    std::string record = OversizeRecord();
    // The last match is one byte long past the bound; make it one byte shorter.
    record[record.size() - 4] = char(record[record.size() - 4] - 1);
    WriteText(records / "4R08.PCK", record);
    EXPECT_EQ(RunStoreTool({records.string()}).exit_code, 0);
}

TEST(StoreTool, WritesTheStoreUnderUpperCaseNames) {
    TempDir dir;
    // A directory whose name needs escaping in a resource script.
    const fs::path records = CopyRecords(dir.path / "rec\"ords\\");
    fs::rename(records / "1030.PCK", records / "1030.pck");
    const ChildResult run =
        RunStoreTool({records.string(), "--cpp", (dir.path / "store.cpp").string(), "--rc",
                      (dir.path / "store.rc").string(), "--copy-to", (dir.path / "embedded").string()});
    ASSERT_EQ(run.exit_code, 0) << run.output;

    const std::string source = ReadText(dir.path / "store.cpp");
    EXPECT_NE(source.find("{\"1030.PCK\", Record"), std::string::npos);
    EXPECT_NE(source.find("{\"203I_CON.PCK\", Record"), std::string::npos);
    EXPECT_NE(source.find("PayloadStoreSize = 48;"), std::string::npos);

    const std::string script = ReadText(dir.path / "store.rc");
    const std::string escaped_dir = (dir.path / "rec\"\"ords\\\\").string();
    EXPECT_NE(script.find("LANGUAGE 0x11, 0x01\n\"1030.PCK\" BIN \"" + escaped_dir + "/1030.pck\"\n"),
              std::string::npos)
        << script;
    size_t resources = 0;
    for (size_t at = script.find("LANGUAGE 0x11, 0x01\n\""); at != std::string::npos;
         at = script.find("LANGUAGE 0x11, 0x01\n\"", at + 1))
        ++resources;
    EXPECT_EQ(resources, 48u);

    size_t copies = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path / "embedded")) {
        EXPECT_EQ(ReadText(entry.path()), ReadText(fs::path(QUELLSTORM_RECORD_DIR) / entry.path().filename()));
        ++copies;
    }
    EXPECT_EQ(copies, 48u);
    EXPECT_TRUE(fs::exists(dir.path / "embedded" / "1030.PCK"));
}

TEST(StoreTool, OmitLeavesOnePayloadOut) {
    TempDir dir;
    const fs::path records = CopyRecords(dir.path / "records");
    fs::remove(records / "2020.PCK");
    const ChildResult run = RunStoreTool({records.string(), "--omit", "2020.pck", "--cpp", (dir.path / "s.cpp").string()});
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const std::string source = ReadText(dir.path / "s.cpp");
    EXPECT_EQ(source.find("2020.PCK"), std::string::npos);
    EXPECT_NE(source.find("PayloadStoreSize = 47;"), std::string::npos);
}

} // namespace
