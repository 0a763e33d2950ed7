#include "realtimescheduling.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace calmcove {

namespace {

constexpr int busTimeoutMs = 1000;
const QString realtimeKitService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString realtimeKitPath = QStringLiteral("/org/freedesktop/RealtimeKit1");

bool setFifo(pid_t threadId, int priority, QString* reason)
{
    sched_param parameters{};
    parameters.sched_priority = priority;
    if (sched_setscheduler(threadId, SCHED_FIFO | SCHED_RESET_ON_FORK, &parameters) == 0)
        return true;
    *reason = QStringLiteral("SCHED_FIFO: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

// A RealtimeKit property, or an error text.
QVariant realtimeKitProperty(QDBusConnection& bus, const QString& name, QString* reason)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        realtimeKitService, realtimeKitPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    call << realtimeKitService << name;
    const QDBusMessage reply = bus.call(call, QDBus::Block, busTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        *reason = QStringLiteral("RealtimeKit: %1").arg(reply.errorMessage());
        return {};
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

bool askRealtimeKit(pid_t threadId, int priority, QString* reason)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        *reason = QStringLiteral("RealtimeKit: no system bus");
        return false;
    }
    bool ok = false;
    const int maxPriority =
        realtimeKitProperty(bus, QStringLiteral("MaxRealtimePriority"), reason).toInt(&ok);
    if (!ok)
        return false;
    const qlonglong maxRealtimeMicroseconds =
        realtimeKitProperty(bus, QStringLiteral("RTTimeUSecMax"), reason).toLongLong(&ok);
    if (!ok || maxPriority < 1 || maxRealtimeMicroseconds <= 0) {
        if (ok)
            *reason = QStringLiteral("RealtimeKit: grants no real-time priority");
        return false;
    }

    // RealtimeKit refuses a process that could keep a core busy without limit.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) == 0 &&
        (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > rlim_t(maxRealtimeMicroseconds))) {
        limit.rlim_cur = limit.rlim_max = rlim_t(maxRealtimeMicroseconds);
        if (setrlimit(RLIMIT_RTTIME, &limit) != 0) {
            *reason = QStringLiteral("RLIMIT_RTTIME: %1")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }

    QDBusMessage call =
        QDBusMessage::createMethodCall(realtimeKitService, realtimeKitPath, realtimeKitService,
                                       QStringLiteral("MakeThreadRealtimeWithPID"));
    call << qulonglong(getpid()) << qulonglong(threadId)
         << uint(std::clamp(priority, 1, maxPriority));
    const QDBusMessage reply = bus.call(call, QDBus::Block, busTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    *reason = QStringLiteral("RealtimeKit: %1").arg(reply.errorMessage());
    return false;
}

bool realtimeAudioWanted()
{
    return qgetenv("CALMCOVE_REALTIME_AUDIO") != "0";
}

} // namespace

RealtimeScheduling makeThreadRealtime(pid_t threadId, int priority)
{
    if (!realtimeAudioWanted())
        return RealtimeScheduling::switchedOff;
    QString directReason, realtimeKitReason;
    if (setFifo(threadId, priority, &directReason))
        return RealtimeScheduling::direct;
    if (askRealtimeKit(threadId, priority, &realtimeKitReason))
        return RealtimeScheduling::realtimeKit;
    // Once per process: the output asks again every time the engine starts it.
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        std::fprintf(stderr, "calmcove: audio plays without real-time scheduling (%s; %s)\n",
                     qPrintable(directReason), qPrintable(realtimeKitReason));
    return RealtimeScheduling::refused;
}

} // namespace calmcove
