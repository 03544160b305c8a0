#include "payload/extract.h"

#include <gtest/gtest.h>

#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_records.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<std::string> Events() { return {Fake.events, Fake.events + Fake.event_count}; }

class ExtractPayloadTest : public testing::Test {
protected:
    void SetUp() override { ResetFake(); }

    void Store(const char* name, const Bytes& record) {
        records_.push_back(record);
        AddFakePayload(name, records_.back().data(), uint32_t(records_.back().size()));
    }

    std::list<Bytes> records_;  // stays in place while the fake store points into it
};

TEST_F(ExtractPayloadTest, WritesTheDecodedBytesThenStampsTheClosedFile) {
    Store("203I_CON.PCK", LiteralRecord("scenario", 982568366));
    EXPECT_EQ(ExtractPayload("C:\\G\\a.MES", "203i_con.PCK"), ExtractOk);
    EXPECT_EQ(Events(), (std::vector<std::string>{"open C:\\G\\a.MES", "write C:\\G\\a.MES 8", "close C:\\G\\a.MES",
                                                  "times C:\\G\\a.MES 982568366"}));
    EXPECT_EQ(std::memcmp(DecodeBuffer, "scenario", 8), 0);
    EXPECT_EQ(Fake.dialog_count, 0);
}

TEST_F(ExtractPayloadTest, EmptyStreamWritesAnEmptyFileWithItsTime) {
    Store("EMPTY.PCK", LiteralRecord("", 987014534));
    EXPECT_EQ(ExtractPayload("e", "EMPTY.PCK"), ExtractOk);
    EXPECT_EQ(Events(), (std::vector<std::string>{"open e", "write e 0", "close e", "times e 987014534"}));
}

TEST_F(ExtractPayloadTest, FailedOpenAndShortWriteStopBeforeTheTimes) {
    Store("A.PCK", LiteralRecord("abc", 1));
    Fake.unopenable_path = "locked";
    EXPECT_EQ(ExtractPayload("locked", "A.PCK"), ExtractCannotCreate);
    EXPECT_TRUE(Events().empty());

    Fake.short_write_path = "full";
    EXPECT_EQ(ExtractPayload("full", "A.PCK"), ExtractShortWrite);
    EXPECT_EQ(Events(), (std::vector<std::string>{"open full", "write full 2", "close full"}));
}

struct UnusableCase {
    const char* name;
    bool stored;
    Bytes record;
};

class UnusablePayload : public testing::TestWithParam<UnusableCase> {};

TEST_P(UnusablePayload, IsReportedUnderItsNameAndTouchesNothing) {
    ResetFake();
    const UnusableCase& c = GetParam();
    if (c.stored) AddFakePayload("2020.PCK", c.record.data(), uint32_t(c.record.size()));
    EXPECT_EQ(ExtractPayload("C:\\G\\sinario\\202egr_0.MES", "2020.PCK"), ExtractNoPayload);
    EXPECT_TRUE(Events().empty());
    ASSERT_EQ(Fake.dialog_count, 1);
    EXPECT_STREQ(Fake.dialogs[0].text, "リソースが見つかりません");
    EXPECT_STREQ(Fake.dialogs[0].caption, "2020.PCK");
    EXPECT_EQ(Fake.dialogs[0].style, DialogMessage);
}

Bytes WithHeaderSize(Bytes record, uint8_t packed_size) {
    record[0] = packed_size;
    return record;
}

INSTANTIATE_TEST_SUITE_P(
    Records, UnusablePayload,
    testing::Values(UnusableCase{"missing", false, {}},
                    UnusableCase{"shorter_than_header", true, {0x01, 0x00, 0x00}},
                    UnusableCase{"header_claims_more", true, WithHeaderSize(LiteralRecord("abc", 1), 5)},
                    UnusableCase{"stream_malformed", true, {0x02, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x81}}),
    [](const testing::TestParamInfo<UnusableCase>& test_case) { return test_case.param.name; });

} // namespace
