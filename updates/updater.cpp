#include "updater.h"

#include "library/filedigest.h"
#include "platform/userdefaults.h"
#include "updates/releasesignature.h"
#include "updates/updateconfig.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTimer>

namespace calmcove {

namespace {

const QString verificationFailed = QStringLiteral("The update could not be verified.");
const QString downloadFailed = QStringLiteral("The update could not be downloaded.");
const QString installFailed = QStringLiteral("The update could not be installed.");
const QString checkFailed = QStringLiteral("Calmcove could not check for updates.");

} // namespace

// One check and whatever follows from it, until the user's answer is handled.
struct Updater::Session
{
    bool userInitiated = false;
    Cancellation cancellation;
    std::unique_ptr<AudioPackClient> client;
    // The user's answer to a found release; fired false when the session is cancelled.
    Wake answered;
    std::optional<UpdateReply> reply;
    std::optional<Cancellation::Registration> cancelWakesAnswer;
};

UpdaterConfiguration UpdaterConfiguration::current()
{
    return UpdaterConfiguration{
        QString::fromUtf8(UpdateConfig::version), QString::fromUtf8(UpdateConfig::feedURL),
        QString::fromUtf8(UpdateConfig::publicKey), InstallTree::ofRunningProgram()};
}

Updater::Updater(UserDefaults& defaults, UpdateUserDriverDelegate& delegate, UpdaterOptions options,
                 QObject* parent)
    : QObject(parent), m_defaults(defaults), m_delegate(delegate), m_options(std::move(options)),
      m_publicKey(ed25519PublicKeyFromText(m_options.configuration.publicKey)),
      m_clock(m_options.clock ? m_options.clock : std::make_shared<LibraryClock>())
{
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &Updater::installPendingUpdate);
}

Updater::~Updater()
{
    if (m_options.networkMonitor && m_networkWatch)
        m_options.networkMonitor->unwatch(m_networkWatch);
    // Wakes every suspended step of a running session, which then ends without touching
    // anything of this object but the session.
    m_destroying = true;
    if (m_session)
        m_session->cancellation.cancel();
}

bool Updater::automaticallyChecksForUpdates() const
{
    return m_defaults.boolean(automaticChecksKey).value_or(false);
}

void Updater::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (storeSwitch(automaticChecksKey, enabled))
        emit automaticallyChecksForUpdatesChanged(enabled);
}

bool Updater::storeSwitch(const QString& key, bool enabled)
{
    if (m_defaults.boolean(key) == enabled)
        return false;
    m_defaults.setValue(key, enabled);
    return true;
}

bool Updater::automaticallyDownloadsUpdates() const
{
    return m_defaults.boolean(automaticUpdatesKey).value_or(false);
}

void Updater::setAutomaticallyDownloadsUpdates(bool enabled)
{
    if (storeSwitch(automaticUpdatesKey, enabled))
        emit automaticallyDownloadsUpdatesChanged(enabled);
}

std::optional<QUrl> Updater::feedURL() const
{
    const QString candidates[] = {m_defaults.string(feedURLKey).value_or(QString()),
                                  m_options.configuration.feedURL};
    for (const QString& candidate : candidates) {
        const QUrl url(candidate.trimmed(), QUrl::StrictMode);
        if (!candidate.trimmed().isEmpty() && url.isValid() &&
            url.scheme() == QLatin1String("https") && !url.host().isEmpty())
            return url;
    }
    return std::nullopt;
}

bool Updater::hasUpdateChannel() const
{
    return feedURL().has_value() && !m_publicKey.isEmpty();
}

void Updater::start()
{
    if (m_started)
        return;
    m_started = true;
    // This program runs, so a tree that an exchange moved aside is no longer needed.
    if (m_options.configuration.tree.canUpdateItself())
        m_options.configuration.tree.removeLeftovers();
    if (m_options.networkMonitor)
        m_networkWatch = m_options.networkMonitor->watch([this](const NetworkPath& path) {
            m_networkUsable = path.satisfied;
            if (m_networkUsable && m_waitingForNetwork) {
                m_waitingForNetwork = false;
                scheduledCheckIsDue();
            }
        });
    scheduleNextCheck();
}

void Updater::resetUpdateCycle()
{
    if (m_started)
        scheduleNextCheck();
}

void Updater::scheduleNextCheck()
{
    m_scheduleContext = std::make_unique<QObject>();
    m_waitingForNetwork = false;
    m_nextCheck.reset();
    if (!automaticallyChecksForUpdates() || !hasUpdateChannel())
        return;

    const qint64 interval =
        std::max(qint64(m_defaults.number(checkIntervalKey).value_or(defaultCheckInterval)),
                 shortestCheckInterval);
    const QDateTime now = m_clock->now();
    const std::optional<QDateTime> last = m_defaults.date(lastCheckTimeKey);
    // A last check in the future means the clock was set back: count from now.
    const QDateTime due = last && *last <= now ? last->addSecs(interval) : now;
    const std::chrono::milliseconds delay = std::max<std::chrono::milliseconds>(
        std::chrono::milliseconds(now.msecsTo(due)), shortestTimerDelay);
    m_nextCheck = now.addMSecs(delay.count());
    m_clock->schedule(delay, m_scheduleContext.get(), [this] { scheduledCheckIsDue(); });
}

void Updater::scheduledCheckIsDue()
{
    if (m_session)
        return; // the running session plans the next check when it ends
    if (!m_networkUsable) {
        m_waitingForNetwork = true;
        return;
    }
    runSession(false);
}

void Updater::checkForUpdates()
{
    if (m_session)
        return;
    if (!hasUpdateChannel()) {
        if (m_driver)
            m_driver->showUpdateError(
                QStringLiteral("This build of Calmcove has no update channel."),
                QStringLiteral("Download new versions from the Calmcove website."));
        return;
    }
    runSession(true);
}

void Updater::cancelSession()
{
    if (m_session)
        m_session->cancellation.cancel();
}

void Updater::report(const Session& session, const Failure& failure)
{
    qWarning("Calmcove update: %s %s", qPrintable(failure.message), qPrintable(failure.detail));
    if (session.userInitiated && m_driver)
        m_driver->showUpdateError(failure.message, failure.detail);
}

void Updater::finishSession()
{
    m_endedSessions.push_back(std::move(m_session));
    if (m_destroying)
        return;
    QTimer::singleShot(0, this, [this] { m_endedSessions.clear(); });
    m_delegate.willFinishUpdateSession();
    emit canCheckForUpdatesChanged(true);
    scheduleNextCheck();
}

void Updater::endCancelledSession()
{
    if (!m_destroying && m_driver && m_session->userInitiated)
        m_driver->dismissUpdateWindows();
    finishSession();
}

QCoro::Task<> Updater::runSession(bool userInitiated)
{
    const QPointer<Updater> self(this);
    m_session = std::make_shared<Session>();
    Session& session = *m_session;
    session.userInitiated = userInitiated;
    session.client = std::make_unique<AudioPackClient>(
        m_defaults, BuildInfo::current(), *m_clock, session.cancellation,
        [this] { return m_networkUsable; }, m_options.timeouts);
    session.cancelWakesAnswer.emplace(
        session.cancellation.onCancel([&session] { session.answered.fire(false); }));
    emit canCheckForUpdatesChanged(false);
    if (userInitiated && m_driver)
        m_driver->showCheckingForUpdates([this] { cancelSession(); });

    auto fetching = fetchFeed(session);
    const Expected<UpdateFeed, Failure> feed = co_await std::move(fetching);
    if (session.cancellation.isCancelled()) {
        endCancelledSession();
        co_return;
    }
    m_defaults.setDate(lastCheckTimeKey, m_clock->now());
    if (!feed) {
        report(session, feed.error());
        finishSession();
        co_return;
    }

    const QString running = m_options.configuration.runningVersion;
    const UpdateChoice choice = chooseUpdate(*feed, running);
    if (!choice.release) {
        if (choice.unreachable)
            report(session,
                   {QStringLiteral("Calmcove %1 cannot be installed over this version.")
                        .arg(choice.unreachable->version),
                    QStringLiteral("It needs Calmcove %1 or newer; you have %2. Get it "
                                   "from the Calmcove website.")
                        .arg(choice.unreachable->minimumVersion.value_or(QString()), running)});
        else if (userInitiated && m_driver)
            m_driver->showUpToDate(running);
        finishSession();
        co_return;
    }
    const UpdateRelease release = *choice.release;
    if (!userInitiated && m_defaults.string(skippedVersionKey) == release.version) {
        finishSession();
        co_return;
    }

    const bool canInstall = m_options.configuration.tree.canUpdateItself();
    if (!userInitiated && m_pendingInstall && m_pendingInstall->version == release.version) {
        finishSession(); // already unpacked, waiting for the quit
        co_return;
    }
    if (canInstall && !userInitiated && automaticallyDownloadsUpdates()) {
        // Installed quietly when the program quits.
        auto staging = downloadAndStage(session, release);
        const Expected<StagedTree, Failure> staged = co_await std::move(staging);
        if (!self)
            co_return;
        if (session.cancellation.isCancelled()) {
            endCancelledSession();
            co_return;
        }
        if (staged)
            m_pendingInstall = *staged;
        else
            report(session, staged.error());
        finishSession();
        co_return;
    }

    if (!m_driver) {
        finishSession();
        co_return;
    }
    m_delegate.willHandleShowingUpdate(userInitiated);
    m_driver->showUpdateFound(
        release, canInstall ? UpdateOffer::installAndRelaunch : UpdateOffer::openReleasePage,
        userInitiated, [weakSession = std::weak_ptr<Session>(m_session)](UpdateReply reply) {
            // A late answer to an ended session finds nothing to do.
            const std::shared_ptr<Session> answeredSession = weakSession.lock();
            if (!answeredSession || answeredSession->answered.hasFired())
                return;
            answeredSession->reply = reply;
            answeredSession->answered.fire(true);
        });
    const bool answered = co_await session.answered.wait();
    if (!answered) {
        endCancelledSession();
        co_return;
    }
    m_delegate.didReceiveUserAttentionForUpdate();

    switch (*session.reply) {
    case UpdateReply::skipThisVersion:
        m_defaults.setValue(skippedVersionKey, release.version);
        break;
    case UpdateReply::remindMeLater:
    case UpdateReply::openReleasePage:
        break;
    case UpdateReply::install: {
        if (!canInstall)
            break;
        auto staging = downloadAndStage(session, release);
        const Expected<StagedTree, Failure> staged = co_await std::move(staging);
        if (!self)
            co_return;
        if (session.cancellation.isCancelled()) {
            endCancelledSession();
            co_return;
        }
        if (!staged) {
            report(session, staged.error());
            break;
        }
        m_pendingInstall = *staged;
        const Expected<bool, QString> exchanged =
            m_options.configuration.tree.exchange(*m_pendingInstall);
        m_pendingInstall.reset();
        if (!exchanged) {
            report(session, {installFailed, exchanged.error()});
            break;
        }
        if (m_driver)
            m_driver->dismissUpdateWindows();
        finishSession();
        relaunch();
        co_return;
    }
    }
    finishSession();
}

QCoro::Task<Expected<UpdateFeed, Updater::Failure>> Updater::fetchFeed(Session& session)
{
    AudioPackTrack document;
    document.fileName = QStringLiteral("update feed");
    document.downloadURL = *feedURL();
    document.byteCount = maximumUpdateFeedSize;
    auto downloading = session.client->download(document);
    const Result<DownloadedFile> file = co_await std::move(downloading);
    if (!file) {
        const auto* packError = std::get_if<AudioPackError>(&file.error());
        if (packError && packError->kind == AudioPackError::Case::invalidFile)
            co_return Failure{checkFailed, QStringLiteral("The update feed is too large.")};
        co_return Failure{checkFailed, errorDescription(file.error())};
    }
    QFile content(file->path);
    const QByteArray json = content.open(QIODevice::ReadOnly) ? content.readAll() : QByteArray();
    content.remove();
    Expected<UpdateFeed, UpdateFeedError> feed = decodeUpdateFeed(json);
    if (!feed)
        co_return Failure{checkFailed, feed.error().message};
    co_return std::move(*feed);
}

QCoro::Task<Expected<StagedTree, Updater::Failure>> Updater::downloadAndStage(Session& session,
                                                                              UpdateRelease release)
{
    if (m_driver && session.userInitiated)
        m_driver->showProgress(QStringLiteral("Downloading Calmcove %1…").arg(release.version),
                               [this] { cancelSession(); });
    AudioPackTrack archive;
    archive.fileName = release.archiveURL.fileName();
    archive.downloadURL = release.archiveURL;
    archive.byteCount = release.byteCount;
    auto downloading = session.client->download(archive);
    const Result<DownloadedFile> file = co_await std::move(downloading);
    if (!file) {
        const auto* packError = std::get_if<AudioPackError>(&file.error());
        if (packError && packError->kind == AudioPackError::Case::invalidFile)
            co_return Failure{verificationFailed,
                              QStringLiteral("The download is larger than the update feed says.")};
        co_return Failure{downloadFailed, errorDescription(file.error())};
    }

    // Nothing reads the archive before these checks pass; a failed one deletes it.
    std::optional<QString> fault;
    if (file->size != release.byteCount)
        fault = QStringLiteral("The download's size differs from the update feed's.");
    else if (file->sha256 != release.sha256)
        fault = QStringLiteral("The download's SHA-256 digest differs from the update feed's.");
    else if (!verifyEd25519FileSignature(m_publicKey, file->path, release.signature))
        fault = QStringLiteral("The download is not signed with the Calmcove release key.");
    if (fault) {
        QFile::remove(file->path);
        co_return Failure{verificationFailed, *fault};
    }

    if (m_driver && session.userInitiated)
        m_driver->showProgress(QStringLiteral("Installing Calmcove %1…").arg(release.version), {});
    const QString archivePath = file->path;
    const QPointer<Updater> self(this);
    auto staging = stageRelease(m_options.configuration.tree, archivePath, release.version);
    Expected<StagedTree, QString> staged = co_await std::move(staging);
    QFile::remove(archivePath);
    if (!self)
        co_return Failure{installFailed, QString()};
    if (!staged)
        co_return Failure{installFailed, staged.error()};
    co_return *staged;
}

void Updater::installPendingUpdate()
{
    if (!m_pendingInstall)
        return;
    const StagedTree staged = *std::exchange(m_pendingInstall, std::nullopt);
    const Expected<bool, QString> exchanged = m_options.configuration.tree.exchange(staged);
    if (!exchanged)
        qWarning("Calmcove update: %s", qPrintable(exchanged.error()));
}

void Updater::relaunch()
{
    const QString executable =
        m_options.configuration.tree.path() + QStringLiteral("/bin/calmcove");
    if (m_options.relaunch) {
        m_options.relaunch(executable);
        return;
    }
    // The new process must not meet this one's single-instance server: it starts once this
    // process has gone.
    QProcess::startDetached(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; exec \"$2\""),
         QStringLiteral("calmcove-relaunch"), QString::number(QCoreApplication::applicationPid()),
         executable});
    QCoreApplication::quit();
}

} // namespace calmcove
