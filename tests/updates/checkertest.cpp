// AppStoreVersionChecker over the updater: the one-time automatic-update defaults, one
// switch for checking and installing, the refused second check, the missing update
// channel and the quiet reminder for releases found in the background.

#include "updaterfixture.h"

#include "platform/userdefaults.h"

namespace calmcove {
namespace {

class CheckerTest : public test::UpdaterFixture
{};

TEST_F(CheckerTest, AppliesTheDefaultsOnceAndKeepsTheUsersChoice)
{
    defaults->setValue(Updater::automaticChecksKey, false);
    defaults->setValue(Updater::automaticUpdatesKey, false);
    {
        AppStoreVersionChecker checker(*defaults, options());
        EXPECT_EQ(defaults->boolean(Updater::automaticChecksKey), true);
        EXPECT_EQ(defaults->boolean(Updater::automaticUpdatesKey), true);
        EXPECT_TRUE(checker.automaticallyChecksForUpdates());
    }
    defaults->setValue(Updater::automaticChecksKey, false);
    defaults->remove(Updater::automaticUpdatesKey);
    AppStoreVersionChecker checker(*defaults, options());
    EXPECT_EQ(defaults->boolean(Updater::automaticChecksKey), false);
    EXPECT_EQ(defaults->boolean(Updater::automaticUpdatesKey), true);
    EXPECT_FALSE(checker.automaticallyChecksForUpdates());
    EXPECT_TRUE(checker.automaticallyDownloadsUpdates());
    EXPECT_FALSE(checker.updater().nextScheduledCheck());
}

TEST_F(CheckerTest, OneSwitchDrivesCheckingAndInstalling)
{
    AppStoreVersionChecker checker(*defaults, options());
    ASSERT_TRUE(checker.updater().nextScheduledCheck());
    checker.setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(checker.automaticallyChecksForUpdates());
    EXPECT_FALSE(checker.automaticallyDownloadsUpdates());
    EXPECT_EQ(defaults->boolean(Updater::automaticChecksKey), false);
    EXPECT_EQ(defaults->boolean(Updater::automaticUpdatesKey), false);
    EXPECT_FALSE(checker.updater().nextScheduledCheck());

    checker.setAutomaticallyChecksForUpdates(true);
    EXPECT_TRUE(checker.automaticallyDownloadsUpdates());
    EXPECT_TRUE(checker.updater().nextScheduledCheck());
}

TEST_F(CheckerTest, ASecondCheckWhileOneRunsIsRefused)
{
    clock->park = [](std::chrono::nanoseconds) { return true; };
    publish(newArchive(), "0.2.0");
    server.serve(
        "/feed.json",
        {"{\"releases\": []}", "application/json", 200, {}, std::chrono::milliseconds(1500)});
    AppStoreVersionChecker checker(*defaults, options());
    checker.setUserDriver(&driver);
    test::runUntil([&] { return checker.canCheckForUpdates(); });

    checker.checkForAppUpdate();
    EXPECT_TRUE(checker.errorMessage().isEmpty());
    checker.checkForAppUpdate();
    EXPECT_EQ(checker.errorMessage(),
              "Calmcove is already checking for updates. Try again in a moment.");
    ASSERT_TRUE(test::runUntil([&] { return !checker.canCheckForUpdates(); }));
    ASSERT_TRUE(test::runUntil([&] { return checker.canCheckForUpdates(); }, 30000));
    EXPECT_EQ(driver.shown, QStringList({"checking", "upToDate 0.1.0"}));
    EXPECT_EQ(server.requestCount("/feed.json"), 1);

    checker.checkForAppUpdate();
    EXPECT_TRUE(checker.errorMessage().isEmpty());
}

TEST_F(CheckerTest, ABuildWithoutFeedOrKeyHasNoUpdateChannel)
{
    for (const bool withFeed : {false, true}) {
        UpdaterOptions withoutChannel = options();
        if (withFeed)
            withoutChannel.configuration.publicKey = "not a key";
        else
            withoutChannel.configuration.feedURL.clear();
        AppStoreVersionChecker checker(*defaults, std::move(withoutChannel));
        checker.setUserDriver(&driver);
        EXPECT_FALSE(checker.updater().nextScheduledCheck());
        driver.shown.clear();
        checker.checkForAppUpdate();
        EXPECT_EQ(driver.lastError(), "This build of Calmcove has no update channel. | Download "
                                      "new versions from the Calmcove website.");
    }
    EXPECT_EQ(server.requestCount("/feed.json"), 0);
}

TEST_F(CheckerTest, AReleaseFoundInTheBackgroundShowsAQuietReminder)
{
    publish(newArchive(), "0.2.0");
    defaults->setValue(AppStoreVersionChecker::appliedDefaultsKey, true);
    defaults->setValue(Updater::automaticChecksKey, true);
    defaults->setValue(Updater::automaticUpdatesKey, false);
    clock->park = [](std::chrono::nanoseconds delay) { return delay >= std::chrono::hours(1); };
    driver.answer.reset();
    AppStoreVersionChecker checker(*defaults, options());
    checker.setUserDriver(&driver);

    ASSERT_TRUE(test::runUntil([&] { return checker.updateReminderVisible(); }, 30000));
    EXPECT_EQ(driver.shown, QStringList{"found 0.2.0 install background"});
    EXPECT_FALSE(checker.canCheckForUpdates());

    checker.checkForAppUpdate();
    EXPECT_EQ(checker.errorMessage(), AppStoreVersionChecker::alreadyCheckingMessage);

    // "Remind Me Later": the reminder goes and the session ends.
    driver.pendingReply(UpdateReply::remindMeLater);
    EXPECT_TRUE(test::runUntil([&] { return !checker.updateReminderVisible(); }));
    EXPECT_TRUE(test::runUntil([&] { return checker.canCheckForUpdates(); }));
}

} // namespace
} // namespace calmcove
