// The caster's settings as its readers get them from the centre: a change
// published by the control centre reaches the next operation, while one
// under way keeps the copy it started with.
#include "caster/centre/CasterScope.h"
#include "caster/centre/Vorlane.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

NtripServerConfig Settings(int oneAccountMultiUser, int userCount)
{
    NtripServerConfig record;
    memset(&record, 0, sizeof(record));
    record.one_account_multi_user = oneAccountMultiUser;
    record.user_count = userCount;
    record.base_offline_time = 10;
    return record;
}

class LiveConfig : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(&center, 0, sizeof(center));
        center.ntripServerConfig = new ConfigSnapshot<NtripServerConfig>(Settings(0, 1));
        Ntrip::Vorlane_SetCenter(&center, nullptr);
    }
    void TearDown() override
    {
        Ntrip::Vorlane_SetCenter(nullptr, nullptr);
        delete center.ntripServerConfig;
    }

    Ntrip::Vorlane center;
};

}  // namespace

TEST_F(LiveConfig, APublishedChangeReachesTheNextReaderWhole)
{
    Ntrip::Vorlane_PublishNtripServerConfig(Settings(1, 3));
    std::shared_ptr<const NtripServerConfig> now = GetNtripServerConfig();
    ASSERT_NE(nullptr, now);
    EXPECT_EQ(1, now->one_account_multi_user);
    EXPECT_EQ(3, now->user_count);
    EXPECT_EQ(1, CasterScope_OfCenter().config->one_account_multi_user);
    EXPECT_EQ(3, CasterScope_OfCenter().config->user_count);
}

TEST_F(LiveConfig, AScopeKeepsTheSettingsInForceWhenItWasMade)
{
    CasterScope during = CasterScope_Of(&center);
    Ntrip::Vorlane_PublishNtripServerConfig(Settings(1, 3));
    // The operation under way reads the old pair to its end...
    EXPECT_EQ(0, during.config->one_account_multi_user);
    EXPECT_EQ(1, during.config->user_count);
    // ...and the next one the new pair.
    CasterScope next = CasterScope_Of(&center);
    EXPECT_EQ(1, next.config->one_account_multi_user);
    EXPECT_EQ(3, next.config->user_count);
}

TEST(LiveConfigBeforeCreation, IsNoRecordUntilCreationPublishesOne)
{
    Ntrip::Vorlane center;
    memset(&center, 0, sizeof(center));
    Ntrip::Vorlane_SetCenter(&center, nullptr);
    EXPECT_EQ(nullptr, GetNtripServerConfig());
    Ntrip::Vorlane_SetCenter(nullptr, nullptr);
}
