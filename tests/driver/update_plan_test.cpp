#include "driver/update_plan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/fake/fake_records.h"

namespace {

TEST(UpdatePlan, ScenarioFileNamesFollowTheirPayloadsButForThreeRows) {
    int renamed = 0;
    for (int i = 1; i < UpdatePlanSize; ++i) {
        const std::string payload = UpdatePlan[i].payload_name;
        const std::string file = UpdatePlan[i].file_name;
        ASSERT_EQ(payload.substr(payload.size() - 4), ".PCK");
        if (file != payload.substr(0, payload.size() - 4) + ".MES") ++renamed;
        EXPECT_STREQ(UpdatePlan[i].subdirs[0], "sinario");
        const bool under_system = i + 1 >= 40 && i + 1 <= 43;
        EXPECT_STREQ(UpdatePlan[i].subdirs[1], under_system ? "system" : nullptr) << i + 1;
    }
    EXPECT_EQ(renamed, 3);
    EXPECT_STREQ(UpdatePlan[15].file_name, "103EFF_0.MES");
    EXPECT_STREQ(UpdatePlan[16].file_name, "202egr_0.MES");
    EXPECT_STREQ(UpdatePlan[22].file_name, "201EMR_0.MES");
    EXPECT_STREQ(UpdatePlan[47].file_name, "3r07_a0.MES");
}

TEST(UpdatePlan, EveryPayloadIsAskedForOnceWhateverItsCase) {
    for (int i = 0; i < UpdatePlanSize; ++i)
        for (int j = i + 1; j < UpdatePlanSize; ++j)
            EXPECT_NE(UpperCase(UpdatePlan[i].payload_name), UpperCase(UpdatePlan[j].payload_name));
}

} // namespace
