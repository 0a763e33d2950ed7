#pragma once

// Readable GoogleTest failure output for Qt strings.

#include <ostream>
#include <QString>
#include <QStringList>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '[' << list.join(QStringLiteral(", ")).toStdString() << ']';
}
