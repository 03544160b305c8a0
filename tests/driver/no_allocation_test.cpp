// The update flow, platform calls included, runs on static buffers alone.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "driver/update_flow.h"
#include "driver/update_plan.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_records.h"

namespace {

std::atomic<long> Allocations{0};

TEST(UpdateFlowMemory, MakesNoHeapAllocation) {
    ResetFake();
    std::vector<std::vector<uint8_t>> records;
    std::vector<std::string> names;
    records.reserve(UpdatePlanSize);
    names.reserve(UpdatePlanSize);
    for (const UpdateEntry& entry : UpdatePlan) {
        records.push_back(LiteralRecord(entry.file_name, 981100324));
        names.push_back(UpperCase(entry.payload_name));
        AddFakePayload(names.back().c_str(), records.back().data(), uint32_t(records.back().size()));
    }
    SetFakeDataDir("C:\\Game");
    Fake.existing_paths[0] = "C:\\Game\\Quellstorm.exe";

    const long before = Allocations.load();
    RunUpdater();
    EXPECT_EQ(Allocations.load(), before);
    EXPECT_EQ(Fake.event_count, 48 * 4 + 47 + 4);  // every file written and the directories asked for
}

} // namespace

// Counts every allocation through operator new in this test program.
void* operator new(std::size_t size) {
    ++Allocations;
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    std::abort();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
