#pragma once

// Records the player's PropertiesChanged and Seeked signals as a desktop would receive
// them, on a bus connection of its own (Qt drops the hooks when the recorder goes).

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QTest>
#include <QVariantMap>

namespace calmcove::test {

class BusRecorder : public QObject
{
    Q_OBJECT
public:
    explicit BusRecorder(QDBusConnection bus) : m_bus(std::move(bus))
    {
        // Seeked first: the bus applies rules in order, so a marker that arrives proves both.
        m_bus.connect(QString(), QStringLiteral("/org/mpris/MediaPlayer2"),
                      QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Seeked"),
                      this, SLOT(seeked(qlonglong)));
        m_bus.connect(QString(), QStringLiteral("/org/mpris/MediaPlayer2"),
                      QStringLiteral("org.freedesktop.DBus.Properties"),
                      QStringLiteral("PropertiesChanged"), this,
                      SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    }
    struct Change
    {
        QString interface;
        QVariantMap properties;
    };
    QList<Change> changes;
    QList<qlonglong> seeks;

    void clear()
    {
        changes.clear();
        seeks.clear();
    }

    // Sends a marker from `sender` and waits until it arrives. The bus keeps one sender's
    // signals in order, so everything `sender` emitted before has arrived too; the first
    // marker also proves that the recorder's match rules are in place on the bus.
    bool flush(const QDBusConnection& sender)
    {
        const QString marker = QStringLiteral("calmcove.test.Marker%1").arg(++m_markersSent);
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/mpris/MediaPlayer2"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
        signal << marker << QVariantMap() << QStringList();
        // Until the match rules are in place a marker may be lost: send again.
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (!sender.send(signal))
                return false;
            if (QTest::qWaitFor([&] { return m_lastMarker == marker; }, 500))
                return true;
        }
        return false;
    }

public Q_SLOTS:
    void propertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList&)
    {
        if (interface.startsWith(QStringLiteral("calmcove.test.Marker")))
            m_lastMarker = interface;
        else
            changes.append({interface, changed});
    }
    void seeked(qlonglong position) { seeks.append(position); }

private:
    QDBusConnection m_bus;
    int m_markersSent = 0;
    QString m_lastMarker;
};

} // namespace calmcove::test
