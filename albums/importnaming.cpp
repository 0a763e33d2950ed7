#include "importnaming.h"

#include <cmath>
#include <QFileInfo>
#include <QRegularExpression>

namespace calmcove {

QString withoutControlCharacters(QString name)
{
    for (QChar& character : name) {
        if (character.category() == QChar::Other_Control)
            character = QLatin1Char(' ');
    }
    return name;
}

QString trackTitle(const QString& fileName)
{
    QString title = withoutControlCharacters(QFileInfo(fileName).completeBaseName());
    title.replace(QLatin1Char('_'), QLatin1Char(' '));
    title.replace(QLatin1Char('-'), QLatin1Char(' '));
    title = title.trimmed();
    return title.isEmpty() ? QStringLiteral("URL Track") : title;
}

QString copiedFileName(const QString& sourceFileName, int number)
{
    const QFileInfo info(sourceFileName);
    QString base;
    for (const char32_t scalar : info.completeBaseName().toUcs4()) {
        const auto category = QChar::category(scalar);
        const bool alphanumeric =
            QChar::isLetterOrNumber(scalar) || category == QChar::Mark_NonSpacing ||
            category == QChar::Mark_SpacingCombining || category == QChar::Mark_Enclosing;
        if (alphanumeric || scalar == U'-' || scalar == U'_')
            base += QString::fromUcs4(&scalar, 1);
        else
            base += QLatin1Char('-');
    }
    base.replace(QStringLiteral("--"), QStringLiteral("-"));
    while (base.startsWith(QLatin1Char('-')))
        base.remove(0, 1);
    while (base.endsWith(QLatin1Char('-')))
        base.chop(1);
    return QString::asprintf("%02d-", number) + base + QLatin1Char('.') + info.suffix().toLower();
}

QString normalisedTitle(const QString& title)
{
    static const QRegularExpression separators(QStringLiteral("[\\s_\\-]+"));
    QString folded;
    for (const QChar character : title.normalized(QString::NormalizationForm_D)) {
        if (character.category() != QChar::Mark_NonSpacing)
            folded += character;
    }
    folded = folded.toCaseFolded();
    folded.replace(separators, QStringLiteral(" "));
    return folded.trimmed();
}

std::optional<qsizetype> duplicateTrackIndex(const QList<CalmTrack>& tracks, const QString& title,
                                             double duration)
{
    const QString wanted = normalisedTitle(title);
    for (qsizetype i = 0; i < tracks.size(); ++i) {
        const CalmTrack& track = tracks[i];
        if (normalisedTitle(track.title) != wanted)
            continue;
        if (duration <= 0 || track.duration <= 0 || std::abs(duration - track.duration) <= 2.0)
            return i;
    }
    return std::nullopt;
}

int compareFileNames(QStringView a, QStringView b)
{
    // Runs of digits compare by value and the rest by the locale, ignoring case. Done by
    // hand because QCollator has no numeric mode without ICU.
    const auto runEnd = [](QStringView text, qsizetype from) {
        const bool digits = text[from].isDigit();
        while (from < text.size() && text[from].isDigit() == digits)
            ++from;
        return from;
    };
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        const qsizetype iEnd = runEnd(a, i);
        const qsizetype jEnd = runEnd(b, j);
        QStringView left = a.sliced(i, iEnd - i);
        QStringView right = b.sliced(j, jEnd - j);
        int order = 0;
        if (left[0].isDigit() && right[0].isDigit()) {
            const auto stripZeros = [](QStringView run) {
                while (run.size() > 1 && run[0] == QLatin1Char('0'))
                    run = run.sliced(1);
                return run;
            };
            const QStringView l = stripZeros(left);
            const QStringView r = stripZeros(right);
            order = l.size() != r.size() ? (l.size() < r.size() ? -1 : 1) : l.compare(r);
        } else {
            order = QString::localeAwareCompare(left.toString().toCaseFolded(),
                                                right.toString().toCaseFolded());
        }
        if (order != 0)
            return order;
        i = iEnd;
        j = jEnd;
    }
    return (i < a.size()) - (j < b.size());
}

void sortByFileName(QStringList& paths)
{
    std::stable_sort(paths.begin(), paths.end(), [](const QString& a, const QString& b) {
        return compareFileNames(QFileInfo(a).fileName(), QFileInfo(b).fileName()) < 0;
    });
}

} // namespace calmcove
