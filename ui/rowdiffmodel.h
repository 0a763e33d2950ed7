#pragma once

// A list model base that moves from its old rows to new ones with row signals only: the
// rows both lists share at the start and at the end stay (and report a change when their
// values differ); the rows between are removed and the new ones inserted. Views keep their
// scroll position and selection, and a change to one row repaints only that row.

#include <QAbstractItemModel>
#include <QList>

namespace calmcove {

template <typename Base> class RowDiffModel : public Base
{
public:
    using Base::Base;

protected:
    // `rows` is the model's stored list; it holds `newRows` afterwards. `sameRow(a, b)`
    // tells whether two values are the same row (usually: equal identifiers).
    template <typename T, typename SameRow>
    void replaceRows(QList<T>& rows, const QList<T>& newRows, SameRow sameRow,
                     const QModelIndex& parent = {}, int lastColumn = 0)
    {
        const QList<T> oldRows = rows;
        const qsizetype oldCount = oldRows.size();
        const qsizetype newCount = newRows.size();
        qsizetype prefix = 0;
        while (prefix < oldCount && prefix < newCount && sameRow(oldRows[prefix], newRows[prefix]))
            ++prefix;
        qsizetype suffix = 0;
        while (suffix < oldCount - prefix && suffix < newCount - prefix &&
               sameRow(oldRows[oldCount - 1 - suffix], newRows[newCount - 1 - suffix]))
            ++suffix;

        const qsizetype removed = oldCount - prefix - suffix;
        const qsizetype inserted = newCount - prefix - suffix;
        if (removed > 0) {
            this->beginRemoveRows(parent, int(prefix), int(prefix + removed - 1));
            rows.remove(prefix, removed);
            this->endRemoveRows();
        }
        if (inserted > 0) {
            this->beginInsertRows(parent, int(prefix), int(prefix + inserted - 1));
            rows = newRows;
            this->endInsertRows();
        }
        rows = newRows;

        auto reportChanged = [&](qsizetype oldRow, qsizetype newRow) {
            if (!(oldRows[oldRow] == newRows[newRow]))
                Q_EMIT this->dataChanged(this->index(int(newRow), 0, parent),
                                         this->index(int(newRow), lastColumn, parent));
        };
        for (qsizetype row = 0; row < prefix; ++row)
            reportChanged(row, row);
        for (qsizetype i = 0; i < suffix; ++i)
            reportChanged(oldCount - suffix + i, newCount - suffix + i);
    }
};

} // namespace calmcove
