#include "autostartentry.h"

#include <algorithm>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace calmcove {

namespace {

// Key=value lines of the [Desktop Entry] group.
std::optional<QString> desktopEntryValue(const QByteArray& contents, QByteArrayView key)
{
    bool inMainGroup = false;
    std::optional<QString> value;
    for (const QByteArray& rawLine : contents.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inMainGroup || line.startsWith('#') || equals < 0)
            continue;
        if (line.left(equals).trimmed() == key)
            value = QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return value;
}

} // namespace

QString desktopEntryExecValue(const QString& program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = program;
    if (std::any_of(program.cbegin(), program.cend(),
                    [](QChar c) { return reserved.contains(c); })) {
        argument = QLatin1Char('"');
        for (const QChar c : program) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                argument += QLatin1Char('\\');
            argument += c;
        }
        argument += QLatin1Char('"');
    }
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    // The string-value escapes apply on top of the quoting.
    QString value;
    for (const QChar c : std::as_const(argument)) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

AutostartEntry::AutostartEntry()
    : AutostartEntry(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                         QStringLiteral("/autostart/calmcove.desktop"),
                     QCoreApplication::applicationFilePath())
{}

AutostartEntry::AutostartEntry(QString entryPath, QString executablePath)
    : m_entryPath(std::move(entryPath)), m_executablePath(std::move(executablePath))
{}

bool AutostartEntry::isEnabled() const
{
    QFile file(m_entryPath);
    if (!QFileInfo(m_entryPath).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray contents = file.readAll();
    return desktopEntryValue(contents, "Hidden") != QStringLiteral("true") &&
           desktopEntryValue(contents, "X-GNOME-Autostart-enabled") != QStringLiteral("false");
}

std::optional<QString> AutostartEntry::enable() const
{
    const QString folder = QFileInfo(m_entryPath).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("Could not create the folder %1.")
            .arg(QDir::toNativeSeparators(folder));
    QSaveFile file(m_entryPath);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("Could not write %1: %2")
            .arg(QDir::toNativeSeparators(m_entryPath), file.errorString());
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Calmcove\n"
                                         "Comment=Calm instrumental music from the system tray\n"
                                         "Exec=%1\n"
                                         "Icon=calmcove\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(desktopEntryExecValue(m_executablePath));
    file.write(entry.toUtf8());
    if (!file.commit())
        return QStringLiteral("Could not write %1: %2")
            .arg(QDir::toNativeSeparators(m_entryPath), file.errorString());
    return std::nullopt;
}

std::optional<QString> AutostartEntry::disable() const
{
    // A folder of that name is no entry: the desktop starts nothing from it.
    const QFileInfo info(m_entryPath);
    if ((!info.exists() && !info.isSymLink()) || info.isDir())
        return std::nullopt;
    QFile file(m_entryPath);
    if (!file.remove())
        return QStringLiteral("Could not remove %1: %2")
            .arg(QDir::toNativeSeparators(m_entryPath), file.errorString());
    return std::nullopt;
}

} // namespace calmcove
