#include "payload/record.h"

#include <gtest/gtest.h>

#include <vector>

#include "payload/decode.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(uint32_t packed_size, uint32_t timestamp) {
    Bytes bytes;
    for (uint32_t field : {packed_size, timestamp})
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(field >> shift));
    return bytes;
}

Bytes Record(uint32_t packed_size, uint32_t timestamp, const Bytes& stream) {
    Bytes record = Header(packed_size, timestamp);
    record.insert(record.end(), stream.begin(), stream.end());
    return record;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes Xyxy = {0x03, 0x78, 0x79, 0x82};

struct RecordCase {
    const char* name;
    Bytes record;
    int32_t result;  // decoded size or fault
    int32_t timestamp;
};

class DecodeRecord : public testing::TestWithParam<RecordCase> {};

TEST_P(DecodeRecord, TrustsTheHeaderOnlyAsFarAsTheRecordGoes) {
    const RecordCase& c = GetParam();
    // An exactly sized copy, so a read past the record is seen by the sanitizers.
    const Bytes record(c.record);
    uint8_t output[16] = {};
    PayloadHeader header{};
    EXPECT_EQ(DecodePayloadRecord(record.data(), uint32_t(record.size()), output, sizeof output, &header), c.result);
    if (c.result >= 0) {
        EXPECT_EQ(header.timestamp, c.timestamp);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, DecodeRecord,
    testing::Values(
        RecordCase{"whole", Record(4, 982568366, Xyxy), 4, 982568366},
        RecordCase{"empty_stream", Record(0, 987014534, {}), 0, 987014534},
        RecordCase{"negative_time", Record(4, 0xFFFFFFFF, Xyxy), 4, -1},
        // What follows the stream is not part of it.
        RecordCase{"bytes_after_stream", Record(4, 1, Concat(Xyxy, {0xEE, 0xEE})), 4, 1},
        RecordCase{"nothing", {}, PayloadRecordTooShort, 0},
        RecordCase{"seven_bytes", Bytes(7, 0), PayloadRecordTooShort, 0},
        RecordCase{"size_one_past", Record(5, 1, Xyxy), PayloadSizePastRecord, 0},
        RecordCase{"size_huge", Record(0x7FFFFFFF, 1, Xyxy), PayloadSizePastRecord, 0},
        RecordCase{"size_negative", Record(0xFFFFFFFF, 1, Xyxy), PayloadSizePastRecord, 0},
        RecordCase{"stream_malformed", Record(2, 1, {0x00, 0x81}), PayloadOffsetBeforeStart, 0}),
    [](const testing::TestParamInfo<RecordCase>& test_case) { return test_case.param.name; });

TEST(ReadPayloadHeader, ReadsLittleEndianAtAnyAlignment) {
    Bytes buffer(3, 0);
    const Bytes record = Record(0, 0x80402010, {});
    buffer.insert(buffer.end(), record.begin(), record.end());
    PayloadHeader header{};
    ASSERT_EQ(ReadPayloadHeader(buffer.data() + 3, uint32_t(record.size()), &header), 0);
    EXPECT_EQ(header.packed_size, 0);
    EXPECT_EQ(header.timestamp, int32_t(0x80402010));
}

} // namespace
