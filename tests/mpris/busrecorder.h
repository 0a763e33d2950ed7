#pragma once

// Records the player's PropertiesChanged and Seeked signals as a desktop would receive
// them, on a bus connection of its own (Qt drops the hooks when the recorder goes).

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

namespace calmcove::test {

class BusRecorder : public QObject
{
    Q_OBJECT
public:
    explicit BusRecorder(QDBusConnection bus) : m_bus(std::move(bus))
    {
        m_bus.connect(QString(), QStringLiteral("/org/mpris/MediaPlayer2"),
                      QStringLiteral("org.freedesktop.DBus.Properties"),
                      QStringLiteral("PropertiesChanged"), this,
                      SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
        m_bus.connect(QString(), QStringLiteral("/org/mpris/MediaPlayer2"),
                      QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Seeked"),
                      this, SLOT(seeked(qlonglong)));
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

public Q_SLOTS:
    void propertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList&)
    {
        changes.append({interface, changed});
    }
    void seeked(qlonglong position) { seeks.append(position); }

private:
    QDBusConnection m_bus;
};

} // namespace calmcove::test
