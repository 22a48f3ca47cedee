#include "panel_env.h"

#include "config_home.h"

#include <gtest/gtest.h>

#include "ctrlids.h"
#include "runtime.h"

namespace {

class PanelEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        usePrivateConfigHome();
        static char arg0[] = "tarvo-test", arg1[] = "-platform", arg2[] = "offscreen";
        static char* argv[] = {arg0, arg1, arg2, nullptr};
        ASSERT_EQ(InitRunTime(0, argv, 0), 1);
        ASSERT_GT(LoadPanel(0, "tarvo.uir", 1), 0);
    }
};

}  // namespace

void putsettings(const Settings& s)
{
    ASSERT_EQ(SetCtrlVal(PANEL, PANEL_NUMCH, (int)s.num_ch), 0);
    ASSERT_EQ(SetCtrlVal(PANEL, PANEL_BAUD, (int)s.baudr), 0);
    ASSERT_EQ(SetCtrlVal(PANEL, PANEL_STATUSBYTE, (int)s.di), 0);
    ASSERT_EQ(SetCtrlVal(PANEL, PANEL_PERIOD, (int)s.SampPer), 0);
    ASSERT_EQ(SetCtrlVal(PANEL, PANEL_DIGITAL, (int)s.digf), 0);
    ASSERT_EQ(SetCtrlVal(PANEL, PANEL_COUNTER, (int)s.rec_c), 0);
    ASSERT_EQ(SetCtrlVal(PANEL, PANEL_FORMAT, (int)s.wfile), 0);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PanelEnvironment);
    return RUN_ALL_TESTS();
}
