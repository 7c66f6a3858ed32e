#include "ProfilesTestSupport.h"

#include "profiles/RunningCheck.h"

using namespace tessarin;
using tessarin::test::ProfilesTest;

namespace {

using RunningCheck = ProfilesTest;
using List = std::vector<std::string>;

TEST_F(RunningCheck, NamesCompareExactlyAndWithCase)
{
    UseProcesses(
        {{"systemd", "bash", "firefox-esr", "Web Content", "thunderbird-bin", "thunderbird"}});
    EXPECT_TRUE(IsApplicationRunning(Processes(), AppFirefox));
    EXPECT_TRUE(IsApplicationRunning(Processes(), AppThunderbird));
    EXPECT_FALSE(IsApplicationRunning(Processes(), AppSeaMonkey));
    UseProcesses({{"Firefox-esr", "FIREFOX", "firefox.exe", "firefox-esr-wrapper", "fire"}});
    EXPECT_FALSE(IsApplicationRunning(Processes(), AppFirefox));
    UseProcesses({{"seamonkey-bin"}});
    EXPECT_TRUE(IsApplicationRunning(Processes(), AppSeaMonkey));
}

TEST_F(RunningCheck, PortableAndNothingSelectedAreNeverRunning)
{
    UseProcesses({{"firefox", "thunderbird", "seamonkey", "", "postbox"}});
    EXPECT_FALSE(IsApplicationRunning(Processes(), AppPortable));
    EXPECT_FALSE(IsApplicationRunning(Processes(), AppNone));
    EXPECT_TRUE(RunningCheckExecutables(AppPortable).empty());
    EXPECT_TRUE(IsApplicationRunning(Processes(), AppPostBox));
    EXPECT_TRUE(WaitUntilApplicationClosed(Processes(), AppPortable, ui));
    EXPECT_TRUE(ui.Calls.empty());
}

TEST_F(RunningCheck, NotRunningAsksNothing)
{
    UseProcesses({{"bash"}});
    EXPECT_TRUE(WaitUntilApplicationClosed(Processes(), AppFirefox, ui));
    EXPECT_TRUE(ui.Calls.empty());
}

TEST_F(RunningCheck, RetryWhileRunningAsksAgainThenGoesOnOnceClosed)
{
    UseProcesses({{"firefox-esr"}, {"firefox-esr"}, {"bash"}});
    ui.RetryAnswers = {true, true};
    EXPECT_TRUE(WaitUntilApplicationClosed(Processes(), AppFirefox, ui));
    EXPECT_EQ(
        ui.Calls,
        (List{"RetryCancel|Warning|Firefox is running. Exit it and click the Retry button.",
              "RetryCancel|Warning|Firefox is running. Exit it and click the Retry button."}));
}

TEST_F(RunningCheck, RetryThenCancelGivesUp)
{
    UseProcesses({{"thunderbird"}});
    ui.RetryAnswers = {true, false};
    EXPECT_FALSE(WaitUntilApplicationClosed(Processes(), AppThunderbird, ui));
    EXPECT_EQ(ui.CallsOf("RetryCancel").size(), 2u);
    EXPECT_EQ(ui.CallsOf("RetryCancel")[0],
              "Warning|Thunderbird is running. Exit it and click the Retry button.");
}

TEST_F(RunningCheck, EngineVariantUsesItsOwnNamesAndEndsTheProgramOnCancel)
{
    UseProcesses({{"postbox"}});
    ui.RetryAnswers = {true, false};
    try {
        EnsureApplicationClosedForEngine(Processes(), AppPostBox, ui);
        FAIL() << "expected the program to end";
    } catch (const TProgramExit& exit) {
        EXPECT_EQ(exit.Code, 1);
    }
    EXPECT_EQ(
        ui.Calls,
        (List{"RetryCancel|Warning|Postbox is running. Exit it and click the Retry button.",
              "RetryCancel|Warning|Postbox is running. Exit it and click the Retry button.",
              "Warning|Warning|You must exit PostBox before backing up. The program will exit."}));
}

TEST_F(RunningCheck, EngineVariantGoesOnOnceClosed)
{
    UseProcesses({{"firefox"}, {}});
    ui.RetryAnswers = {true};
    EXPECT_NO_THROW(EnsureApplicationClosedForEngine(Processes(), AppFirefox, ui));
    EXPECT_EQ(ui.CallsOf("RetryCancel"),
              List{"Warning|Mozilla Firefox is running. Exit it and click the Retry button."});
}

TEST_F(RunningCheck, MessageNames)
{
    EXPECT_EQ(WizardRunningName(AppNetscape), "Netscape");
    EXPECT_EQ(EngineRunningName(AppNetscape), "Netscape Navigator");
    EXPECT_EQ(WizardRunningName(AppPostBox), "PostBox");
    EXPECT_EQ(EngineRunningName(AppPostBox), "Postbox");
    EXPECT_EQ(EngineExitName(AppPostBox), "PostBox");
    EXPECT_EQ(EngineExitName(AppSunbird), "Mozilla Sunbird");
    EXPECT_EQ(WizardRunningName(AppPortable), "");
    EXPECT_EQ(WizardRunningName(99), "");
}

} // namespace
