#pragma once

// The update session's windows: "Checking for updates…", "You're up to date.", the found
// release with its notes and choices, progress and failures. One window at a time,
// replaced as the session moves on; releases found in the background appear without
// taking focus.

#include "updates/updateuserdriver.h"

#include <QPointer>

class QDialog;

namespace calmcove {

class UpdateWindows : public UpdateUserDriver
{
public:
    UpdateWindows() = default;
    ~UpdateWindows() override;
    UpdateWindows(const UpdateWindows&) = delete;
    UpdateWindows& operator=(const UpdateWindows&) = delete;

    void showCheckingForUpdates(std::function<void()> cancel) override;
    void showUpToDate(const QString& runningVersion) override;
    void showUpdateFound(const UpdateRelease& release, UpdateOffer offer, bool userInitiated,
                         std::function<void(UpdateReply)> reply) override;
    void showProgress(const QString& text, std::function<void()> cancel) override;
    void showUpdateError(const QString& message, const QString& detail) override;
    void dismissUpdateWindows() override;

private:
    // A new window with the headline and, when given, the detail text beneath; the
    // previous window closes without answering.
    QDialog* replaceWindow(const QString& headline, const QString& detail);
    void present(QDialog* window, bool takeFocus);

    QPointer<QDialog> m_window;
};

} // namespace calmcove
