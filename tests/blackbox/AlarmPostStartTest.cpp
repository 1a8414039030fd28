// The warning settings in "VorlaneConfig.json" survive a restart: with
// warnings enabled the alarm-post worker runs from the start, without them it
// does not.
#include "blackbox/CasterFixture.h"

#include <string>

namespace {

class BlackboxAlarmPost : public CasterTest {};

TEST_F(BlackboxAlarmPost, StoredWarningSettingsDecideWhetherTheWorkerRuns)
{
    struct Case {
        std::string url;
        int enableWarn;
        bool runs;
    } cases[] = {
        {"http://127.0.0.1:9/alarm", 1, true},
        {"http://127.0.0.1:9/alarm", 0, false},
        {"", 1, false},
    };
    for (const Case& c : cases) {
        VorlaneInstance instance;
        ASSERT_TRUE(instance.Ready()) << instance.Error();
        instance.SetConfigText("warning", "url", c.url);
        instance.SetConfig("warning", "enableWarn", c.enableWarn);
        ASSERT_TRUE(instance.Start()) << instance.Diagnostics();
        ASSERT_TRUE(instance.WaitForLog("RedivEvurer ip")) << instance.Diagnostics();
        // The worker logs its start from its own thread, which a loaded
        // machine may run late; a worker that does not run never logs it.
        EXPECT_EQ(instance.WaitForLog("Start PostMsgThreadFuc.", c.runs ? 15000 : 500), c.runs)
            << c.url << " " << c.enableWarn << "\n" << instance.Diagnostics();
        EXPECT_TRUE(instance.Stop().Success());
    }
}

}  // namespace
