#pragma once

// A private X server (Xvfb) for tests and benchmarks that need real X11: started on a free
// display number, ended with this object.

#include <QProcess>
#include <QSize>
#include <QString>

namespace calmcove::test {

class XvfbSession
{
public:
    explicit XvfbSession(QSize screen = {640, 480});
    ~XvfbSession();
    XvfbSession(const XvfbSession&) = delete;
    XvfbSession& operator=(const XvfbSession&) = delete;

    bool isRunning() const { return m_server.state() == QProcess::Running; }
    // ":93" and so on.
    QString display() const { return m_display; }
    // Why no server runs (Xvfb missing or failing); empty while one runs.
    QString failure() const { return m_failure; }

private:
    QProcess m_server;
    QString m_display;
    QString m_failure;
};

} // namespace calmcove::test
