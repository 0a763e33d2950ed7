#pragma once

// A private D-Bus session bus for one test program (dbus-daemon, ended when this object
// goes) and a way to run bus clients such as playerctl against it while the test's own
// event loop keeps serving their calls.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace calmcove::test {

class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Empty when dbus-daemon could not be started.
    QString address() const { return m_address; }
    QProcessEnvironment environment() const;

private:
    QString m_address;
    qint64 m_pid = 0;
};

struct ClientResult
{
    int exitCode = -1;
    QString output; // standard output, trimmed
    QString error;
};

// Runs `program` with the bus as its session bus, turning the event loop until it ends,
// then once more so that work the call posted has run.
ClientResult runBusClient(const PrivateSessionBus& bus, const QString& program,
                          const QStringList& arguments, int timeoutMs = 15000);

} // namespace calmcove::test
