// The grid's model of one dynaset: its columns, and its rows as far as the user has scrolled.
//
// Rows are read from the dynaset a block at a time, when the view asks for more (canFetchMore and
// fetchMore, which a view calls as it scrolls to the bottom); a large dynaset streams forward only, so the
// rows already read stay in the model, and the rest of the result is never read ahead of the user.
//
// When the dynaset is updatable, a cell's new value goes to its field and the row is stored through the
// dynaset's Update at once; a new row (AddRow) is stored when the user leaves it (StoreNewRow). The
// dynaset stands on one row at a time: the model moves it to the row an edit is about, step by step from
// the row it stands on or from the first or last row, whichever is nearer.
//
// Failures: nothing here throws. An error the library raises, or a value the column refuses, is told to
// the user through the library's message box service; the library's own advice (a store that failed)
// arrives the same way, from the library itself.
#pragma once

#include <QAbstractTableModel>
#include <QVariant>
#include <cstdint>
#include <vector>

#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/runtime/variant.h"

namespace korado::gui {

class DynasetModel final : public QAbstractTableModel {
    Q_OBJECT

  public:
    // Rows read from the dynaset at a time.
    static constexpr int kBlock = 256;

    explicit DynasetModel(QObject* parent = nullptr);
    ~DynasetModel() override;

    // Shows `rows` (null: nothing); the earlier dynaset is closed. The first block is read at once.
    void SetDynaset(Ref<clsDynasetADO> rows);
    const Ref<clsDynasetADO>& Dynaset() const noexcept { return dynaset_; }
    bool Updatable() const noexcept { return updatable_; }
    // Whether the dynaset has rows the model has not read yet.
    bool Exhausted() const noexcept { return exhausted_; }
    // The row AddRow started and the user has not stored yet, or -1.
    int NewRow() const noexcept { return new_row_; }

    // A new, empty row at the end (every row of the result is read first, as the dynaset adds it after its
    // last). False when the dynaset cannot take one (the library said why).
    bool AddRow();
    // Stores the row AddRow started; true when there is nothing to store. A row the database refuses is
    // cancelled by the library and leaves the grid (false).
    bool StoreNewRow();
    // Deletes the row from the database and from the grid.
    bool DeleteRow(int row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

  private:
    struct Column {
        QString name;
        bool numeric = false;
        Ref<clsFieldADO> field;
    };
    static constexpr int kUnknown = -1;

    // Up to `limit` rows from the one after the last the model holds.
    std::vector<std::vector<Variant>> ReadBlock(int limit);
    // Moves the dynaset to the model's row `row`; false after a failure (told to the user).
    bool MoveTo(int row);
    // The fields' values of the current row, as the model keeps them.
    std::vector<Variant> CurrentValues() const;
    void Close();

    Ref<clsDynasetADO> dynaset_;
    std::vector<Column> columns_;
    std::vector<std::vector<Variant>> rows_;
    bool updatable_ = false;
    bool exhausted_ = true;
    // The model's row the dynaset stands on, rows_.size() past the last row read, or kUnknown.
    int position_ = kUnknown;
    bool at_end_ = false;  // the dynaset stands after its last row (EOF)
    int new_row_ = -1;
};

}  // namespace korado::gui
