// The payload store of the Linux platform tests, in place of the generated one.

#include "test_store.h"

#include "platform/linux/linux_platform.h"
#include "tests/fake/fake_records.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithPackedSize(Bytes record, uint8_t packed_size) {
    record[0] = packed_size;
    return record;
}

// One literal, then matches of 65,537 bytes each until the output passes the
// decode buffer: a stream that is sound in every item but too long.
Bytes OversizeRecord() {
    Bytes stream{0x01, 'a'};
    const int matches = DecodeBufferSize / 65537 + 1;
    for (int i = 0; i < matches; ++i) {
        if ((i + 1) % 8 == 0) stream.push_back(0x00);
        stream.insert(stream.end(), {0x7F, 0xFF, 0xFF, 0x01, 0x00});
    }
    Bytes record{uint8_t(stream.size()), uint8_t(stream.size() >> 8), 0, 0, 1, 0, 0, 0};
    record.insert(record.end(), stream.begin(), stream.end());
    return record;
}

const Bytes Good = LiteralRecord(TestGoodContents, TestGoodTime);
const Bytes Empty = LiteralRecord("", TestEmptyTime);
const Bytes Large = LiteralRecord(std::string(TestLargeSize, 'L'), TestGoodTime);
const Bytes Truncated = WithPackedSize(LiteralRecord(TestGoodContents, TestGoodTime), 200);
const Bytes BadStream = {2, 0, 0, 0, 1, 0, 0, 0, 0x00, 0x81}; // a match before the first byte
const Bytes Oversize = OversizeRecord();

} // namespace

const StoredPayload PayloadStore[] = {
    {"GOOD.PCK", Good.data(), uint32_t(Good.size())},
    {"EMPTY.PCK", Empty.data(), uint32_t(Empty.size())},
    {"LARGE.PCK", Large.data(), uint32_t(Large.size())},
    {"TRUNCATED.PCK", Truncated.data(), uint32_t(Truncated.size())},
    {"BADSTREAM.PCK", BadStream.data(), uint32_t(BadStream.size())},
    {"OVERSIZE.PCK", Oversize.data(), uint32_t(Oversize.size())},
};
const int PayloadStoreSize = sizeof PayloadStore / sizeof PayloadStore[0];
