// Runs the built quellstorm-pack the way a release script would and checks
// what it leaves on disk, its messages and its exit codes.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/decode.h"
#include "tools/pack/packer.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct ToolRun {
    int exit_code;
    std::string out;
    std::string err;
};

Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes Le32(int32_t value) {
    uint32_t v = uint32_t(value);
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// A record from raw parts, so that malformed ones can be made.
Bytes Record(int32_t packed_size, int32_t timestamp, const Bytes& stream) {
    Bytes record = Le32(packed_size);
    Bytes stamp = Le32(timestamp);
    record.insert(record.end(), stamp.begin(), stamp.end());
    record.insert(record.end(), stream.begin(), stream.end());
    return record;
}

class PackCli : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("quellstorm-pack-test-" + std::to_string(getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Path(const char* name) const { return dir_ / name; }

    ToolRun Tool(const std::vector<std::string>& args) const {
        std::string command = "'" QUELLSTORM_PACK_TOOL "'";
        for (const std::string& arg : args) {
            command += " '" + arg + "'";
        }
        fs::path out = dir_ / "tool.out";
        fs::path err = dir_ / "tool.err";
        command += " >'" + out.string() + "' 2>'" + err.string() + "'";
        int status = std::system(command.c_str());
        Bytes out_bytes = ReadBytes(out);
        Bytes err_bytes = ReadBytes(err);
        fs::remove(out);
        fs::remove(err);
        return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out_bytes.begin(), out_bytes.end()),
                   std::string(err_bytes.begin(), err_bytes.end())};
    }

    // Everything in the test directory: no temporary may be left behind.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

TEST_F(PackCli, PackThenUnpackRestoresTheBytesAndStampsTheTimes) {
    Bytes input;
    for (int i = 0; i < 5000; ++i) {
        input.push_back(uint8_t("scene 12: wait\r\n"[i % 16] + i / 700));
    }
    WriteBytes(Path("in.bin"), input);

    ToolRun pack = Tool({"pack", Path("in.bin"), "-o", Path("in.rec"), "--time", "982568366"});
    ASSERT_EQ(pack.exit_code, 0) << pack.err;
    Bytes record = ReadBytes(Path("in.rec"));
    EXPECT_EQ(record, PackRecord(input.data(), input.size(), 982568366));

    ToolRun unpack = Tool({"unpack", Path("in.rec"), "-o", Path("out.bin")});
    ASSERT_EQ(unpack.exit_code, 0) << unpack.err;
    // The times first: reading the file may move its access time.
    struct stat info {};
    ASSERT_EQ(stat(Path("out.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 982568366);
    EXPECT_EQ(info.st_atime, 982568366);
    EXPECT_EQ(ReadBytes(Path("out.bin")), input);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"in.bin", "in.rec", "out.bin"}));
}

TEST_F(PackCli, PackTakesTheInputsModificationTimeByDefault) {
    WriteBytes(Path("in.bin"), Bytes{'a', 'b', 'c'});
    struct utimbuf times {1000, 986928134};
    ASSERT_EQ(utime(Path("in.bin").c_str(), &times), 0);

    ToolRun pack = Tool({"pack", Path("in.bin"), "-o", Path("in.rec")});
    ASSERT_EQ(pack.exit_code, 0) << pack.err;
    Bytes record = ReadBytes(Path("in.rec"));
    ASSERT_GE(record.size(), 8u);
    EXPECT_EQ(Bytes(record.begin() + 4, record.begin() + 8), Le32(986928134));
}

TEST_F(PackCli, PackRefusesAnInputTooLargeOrATimeOutOfRange) {
    WriteBytes(Path("big.bin"), Bytes(PackMaxInput + 1, 'x'));
    ToolRun big = Tool({"pack", Path("big.bin"), "-o", Path("big.rec")});
    EXPECT_EQ(big.exit_code, 1);
    EXPECT_NE(big.err.find("larger than 1400000 bytes"), std::string::npos) << big.err;

    // A modification time past 2038 has no record timestamp.
    WriteBytes(Path("late.bin"), Bytes{'a'});
    struct utimbuf late {2147483648, 2147483648};
    ASSERT_EQ(utime(Path("late.bin").c_str(), &late), 0);
    ToolRun late_run = Tool({"pack", Path("late.bin"), "-o", Path("late.rec")});
    EXPECT_EQ(late_run.exit_code, 1);
    EXPECT_NE(late_run.err.find("does not fit"), std::string::npos) << late_run.err;

    EXPECT_EQ(Listing(), (std::vector<std::string>{"big.bin", "late.bin"}));

    // The same late time given by hand is accepted as soon as it fits.
    ToolRun fits = Tool({"pack", Path("late.bin"), "-o", Path("late.rec"), "--time", "2147483647"});
    EXPECT_EQ(fits.exit_code, 0) << fits.err;
    ToolRun negative = Tool({"pack", Path("late.bin"), "-o", Path("late.rec"), "--time", "-2147483648"});
    EXPECT_EQ(negative.exit_code, 0) << negative.err;
}

TEST_F(PackCli, UsageErrorsExitWithTwo) {
    WriteBytes(Path("in.bin"), Bytes{'a'});
    std::string in = Path("in.bin");
    std::string rec = Path("in.rec");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frob"},
        {"pack"},
        {"pack", in},
        {"pack", in, "-o"},
        {"pack", in, in, "-o", rec},
        {"pack", in, "-o", rec, "-o", rec},
        {"pack", in, "-o", rec, "--time", "soon"},
        {"pack", in, "-o", rec, "--time", "2147483648"},
        {"pack", in, "-o", rec, "--time", "-2147483649"},
        {"pack", in, "-o", rec, "--bogus"},
        {"unpack", rec},
        {"unpack", rec, "-o", in, "--time", "0"},
        {"info"},
        {"info", rec, "-o", in},
    };
    for (const auto& args : cases) {
        ToolRun run = Tool(args);
        std::string shown = testing::PrintToString(args);
        EXPECT_EQ(run.exit_code, 2) << shown;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << shown << run.err;
    }
    EXPECT_EQ(Listing(), (std::vector<std::string>{"in.bin"}));
}

TEST_F(PackCli, HelpExitsWithZero) {
    for (const char* flag : {"--help", "-h"}) {
        ToolRun run = Tool({flag});
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.out.rfind("usage: quellstorm-pack pack", 0), 0u) << run.out;
    }
}

struct BadRecord {
    const char* name;
    Bytes record;
    int32_t fault;
};

std::vector<BadRecord> BadRecords() {
    // A literal and then 22 matches of 65,537 bytes: more than the updater's
    // decode buffer holds.
    Bytes overflow = {0x01, 'a'};
    for (int item = 1; item <= 22; ++item) {
        if (item % 8 == 0) {
            overflow.push_back(0x00);
        }
        overflow.insert(overflow.end(), {0x7F, 0xFF, 0xFF, 0x01, 0x00});
    }
    return {
        {"RecordTooShort", {0x01, 0x00, 0x00}, PayloadRecordTooShort},
        {"SizePastRecord", Record(9, 0, {0x01, 'a'}), PayloadSizePastRecord},
        {"TruncatedItem", Record(3, 0, {0x01, 'a', 0x7F}), PayloadTruncatedItem},
        {"ZeroOffset", Record(4, 0, {0x01, 'a', 0x80, 0x00}), PayloadZeroOffset},
        {"OffsetBeforeStart", Record(3, 0, {0x01, 'a', 0x82}), PayloadOffsetBeforeStart},
        {"OutputOverflow", Record(int32_t(overflow.size()), 0, overflow), PayloadOutputOverflow},
    };
}

TEST_F(PackCli, UnpackOfAMalformedRecordNamesTheFaultAndLeavesOutputAlone) {
    for (const BadRecord& bad : BadRecords()) {
        SCOPED_TRACE(bad.name);
        WriteBytes(Path("bad.rec"), bad.record);

        ToolRun fresh = Tool({"unpack", Path("bad.rec"), "-o", Path("new.bin")});
        EXPECT_EQ(fresh.exit_code, 1);
        EXPECT_NE(fresh.err.find(DescribePayloadFault(bad.fault)), std::string::npos) << fresh.err;
        EXPECT_EQ(Listing(), (std::vector<std::string>{"bad.rec"}));

        WriteBytes(Path("kept.bin"), Bytes{'o', 'l', 'd'});
        ToolRun existing = Tool({"unpack", Path("bad.rec"), "-o", Path("kept.bin")});
        EXPECT_EQ(existing.exit_code, 1);
        EXPECT_EQ(ReadBytes(Path("kept.bin")), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(Listing(), (std::vector<std::string>{"bad.rec", "kept.bin"}));
        fs::remove(Path("kept.bin"));
    }
}

TEST_F(PackCli, UnpackRefusesBytesAfterTheStream) {
    Bytes record = PackRecord(reinterpret_cast<const uint8_t*>("abcabc"), 6, 0);
    record.push_back(0);
    WriteBytes(Path("long.rec"), record);
    ToolRun run = Tool({"unpack", Path("long.rec"), "-o", Path("out.bin")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("1 bytes follow the packed stream"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(Path("out.bin")));
}

TEST_F(PackCli, InfoDescribesEachRecordAndFailsOnAMalformedOne) {
    const uint8_t text[] = "abcabcabcX";
    WriteBytes(Path("good.rec"), PackRecord(text, 10, 982568366));
    WriteBytes(Path("empty.rec"), PackRecord(nullptr, 0, 0));

    ToolRun good = Tool({"info", Path("good.rec"), Path("empty.rec")});
    EXPECT_EQ(good.exit_code, 0) << good.err;
    for (const char* expected : {"packed size   7 bytes", "decoded size  10 bytes", "2001-02-19T07:39:26Z",
                                 "ratio         70.00%", "literal 4, 1-byte 0, offset-byte 0, 0xC0 1, 0x00-0x7E 0, 0x7F 0",
                                 "well-formed   yes", "decoded size  0 bytes", "1970-01-01T00:00:00Z"}) {
        EXPECT_NE(good.out.find(expected), std::string::npos) << expected << "\n" << good.out;
    }

    WriteBytes(Path("bad.rec"), Record(3, 0, {0x01, 'a', 0x82}));
    ToolRun mixed = Tool({"info", Path("good.rec"), Path("bad.rec")});
    EXPECT_EQ(mixed.exit_code, 1);
    EXPECT_NE(mixed.out.find("well-formed   yes"), std::string::npos) << mixed.out;
    EXPECT_NE(mixed.out.find(std::string("well-formed   no: ") + DescribePayloadFault(PayloadOffsetBeforeStart)),
              std::string::npos)
        << mixed.out;
    EXPECT_NE(mixed.err.find("bad.rec"), std::string::npos) << mixed.err;

    ToolRun missing = Tool({"info", Path("none.rec")});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("none.rec"), std::string::npos) << missing.err;
}

} // namespace
