#include "updatewindows.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace calmcove {

namespace {

const QString windowTitle = QStringLiteral("Software Update");

// Closes the window, then calls `action`. Closing a dialog rejects it, which must not
// answer a second time.
void onClick(QDialog* window, QPushButton* button, std::function<void()> action)
{
    QObject::connect(button, &QPushButton::clicked, window, [window, action = std::move(action)] {
        const std::function<void()> run = action;
        QObject::disconnect(window, &QDialog::rejected, nullptr, nullptr);
        window->close();
        if (run)
            run();
    });
}

} // namespace

UpdateWindows::~UpdateWindows()
{
    dismissUpdateWindows();
}

QDialog* UpdateWindows::replaceWindow(const QString& headline, const QString& detail)
{
    dismissUpdateWindows();
    auto* window = new QDialog;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(windowTitle);
    window->setMinimumWidth(420);
    auto* layout = new QVBoxLayout(window);
    auto* title = new QLabel(headline, window);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setWordWrap(true);
    layout->addWidget(title);
    if (!detail.isEmpty()) {
        auto* text = new QLabel(detail, window);
        text->setWordWrap(true);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(text);
    }
    m_window = window;
    return window;
}

void UpdateWindows::present(QDialog* window, bool takeFocus)
{
    window->setAttribute(Qt::WA_ShowWithoutActivating, !takeFocus);
    window->show();
    if (takeFocus) {
        window->raise();
        window->activateWindow();
    }
}

void UpdateWindows::showCheckingForUpdates(std::function<void()> cancel)
{
    showProgress(QStringLiteral("Checking for updates…"), std::move(cancel));
}

void UpdateWindows::showProgress(const QString& text, std::function<void()> cancel)
{
    QDialog* window = replaceWindow(text, QString());
    auto* bar = new QProgressBar(window);
    bar->setRange(0, 0);
    window->layout()->addWidget(bar);
    auto* buttons = new QDialogButtonBox(window);
    window->layout()->addWidget(buttons);
    if (cancel) {
        onClick(window, buttons->addButton(QDialogButtonBox::Cancel), cancel);
        // Closing the window by its frame cancels too.
        QObject::connect(window, &QDialog::rejected, window, [cancel] { cancel(); });
    }
    present(window, true);
}

void UpdateWindows::showUpToDate(const QString& runningVersion)
{
    QDialog* window =
        replaceWindow(QStringLiteral("You're up to date."),
                      QStringLiteral("Calmcove %1 is currently the newest version available.")
                          .arg(runningVersion));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, window);
    onClick(window, buttons->button(QDialogButtonBox::Ok), {});
    window->layout()->addWidget(buttons);
    present(window, true);
}

void UpdateWindows::showUpdateFound(const UpdateRelease& release, UpdateOffer offer,
                                    bool userInitiated, std::function<void(UpdateReply)> reply)
{
    QDialog* window = replaceWindow(
        QStringLiteral("A new version of Calmcove is available!"),
        offer == UpdateOffer::installAndRelaunch
            ? QStringLiteral("Calmcove %1 is available. Would you like to install it now?")
                  .arg(release.version)
            : QStringLiteral("Calmcove %1 is available. This copy was installed by your system's "
                             "package manager: get the new version from the release page.")
                  .arg(release.version));
    if (!release.notes.isEmpty()) {
        auto* notes = new QTextBrowser(window);
        notes->setPlainText(release.notes);
        notes->setMaximumHeight(160);
        window->layout()->addWidget(notes);
    }
    auto* buttons = new QDialogButtonBox(window);
    const auto answer = [reply](UpdateReply value) { return [reply, value] { reply(value); }; };
    onClick(window,
            buttons->addButton(QStringLiteral("Skip This Version"), QDialogButtonBox::RejectRole),
            answer(UpdateReply::skipThisVersion));
    onClick(window,
            buttons->addButton(QStringLiteral("Remind Me Later"), QDialogButtonBox::RejectRole),
            answer(UpdateReply::remindMeLater));
    if (offer == UpdateOffer::installAndRelaunch) {
        onClick(window,
                buttons->addButton(QStringLiteral("Install and Relaunch"),
                                   QDialogButtonBox::AcceptRole),
                answer(UpdateReply::install));
    } else {
        const QUrl page = release.releasePage.value_or(release.archiveURL);
        onClick(
            window,
            buttons->addButton(QStringLiteral("Open Release Page"), QDialogButtonBox::AcceptRole),
            [reply, page] {
                QDesktopServices::openUrl(page);
                reply(UpdateReply::openReleasePage);
            });
    }
    // Closing the window by its frame means "later".
    QObject::connect(window, &QDialog::rejected, window, answer(UpdateReply::remindMeLater));
    window->layout()->addWidget(buttons);
    present(window, userInitiated);
}

void UpdateWindows::showUpdateError(const QString& message, const QString& detail)
{
    QDialog* window = replaceWindow(message, detail);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, window);
    onClick(window, buttons->button(QDialogButtonBox::Ok), {});
    window->layout()->addWidget(buttons);
    present(window, true);
}

void UpdateWindows::dismissUpdateWindows()
{
    if (QDialog* window = m_window.data()) {
        m_window = nullptr;
        // Closing programmatically answers nothing.
        QObject::disconnect(window, &QDialog::rejected, nullptr, nullptr);
        window->close();
    }
}

} // namespace calmcove
