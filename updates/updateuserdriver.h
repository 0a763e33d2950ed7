#pragma once

// What the updater shows the user, as a contract the interface implements with its own
// windows (ui/UpdateWindows) and tests implement with scripted answers. All calls come on
// the main thread; a reply callback may be called later, once, or not at all when the
// updater dismisses the window first.

#include "updates/updatefeed.h"

#include <functional>

namespace calmcove {

// What the user may do with a found release.
enum class UpdateOffer
{
    installAndRelaunch, // the program can replace itself
    openReleasePage,    // a packaged install: the user gets the release elsewhere
};

enum class UpdateReply
{
    install,         // "Install and Relaunch"
    openReleasePage, // "Open Release Page"
    skipThisVersion, // "Skip This Version"
    remindMeLater,   // "Remind Me Later"
};

class UpdateUserDriver
{
public:
    virtual ~UpdateUserDriver() = default;

    // "Checking for updates…" with a Cancel button that calls `cancel`.
    virtual void showCheckingForUpdates(std::function<void()> cancel) = 0;
    // "You're up to date." and the running version.
    virtual void showUpToDate(const QString& runningVersion) = 0;
    // The found release with its notes and the buttons that `offer` allows. A release
    // found in the background (not `userInitiated`) is shown without taking focus.
    virtual void showUpdateFound(const UpdateRelease& release, UpdateOffer offer,
                                 bool userInitiated, std::function<void(UpdateReply)> reply) = 0;
    // Downloading, verifying or installing, with a Cancel button while cancelling is safe
    // (`cancel` empty once it is not).
    virtual void showProgress(const QString& text, std::function<void()> cancel) = 0;
    // A failure: `message` is the headline ("The update could not be verified."),
    // `detail` the cause.
    virtual void showUpdateError(const QString& message, const QString& detail) = 0;
    // Closes whatever update window is open.
    virtual void dismissUpdateWindows() = 0;
};

// The update session's hooks for the application around the windows: whether a release
// found in the background may be announced quietly, and when an update window appears,
// gets the user's attention, and when the session ends.
class UpdateUserDriverDelegate
{
public:
    virtual ~UpdateUserDriverDelegate() = default;

    virtual bool supportsGentleScheduledUpdateReminders() const = 0;
    virtual void willHandleShowingUpdate(bool userInitiated) = 0;
    virtual void didReceiveUserAttentionForUpdate() = 0;
    virtual void willFinishUpdateSession() = 0;
};

} // namespace calmcove
