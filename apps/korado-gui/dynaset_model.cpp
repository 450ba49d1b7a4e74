#include "dynaset_model.h"

#include <QByteArray>
#include <algorithm>
#include <cstdlib>

#include "host_text.h"
#include "korado/platform/adodb.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/convert.h"
#include "message_count.h"

namespace korado::gui {
namespace {

void Tell(const std::string& text) { ShowMessage(text); }

QString CellText(const Variant& value) {
    if (value.IsNull() || value.IsEmpty()) return {};
    if (const Bytes* bytes = value.get_if<Bytes>()) {
        // The start of a long binary value says what it is; all of it would only swamp the cell.
        constexpr qsizetype kShown = 32;
        const QByteArray raw(reinterpret_cast<const char*>(bytes->data()),
                             static_cast<qsizetype>(std::min<std::size_t>(bytes->size(), kShown)));
        return "0x" + QString::fromLatin1(raw.toHex().toUpper()) +
               (bytes->size() > static_cast<std::size_t>(kShown) ? "..." : "");
    }
    try {
        return QString::fromStdString(CStr(value));
    } catch (const Error&) {
        return QStringLiteral("?");
    }
}

}  // namespace

DynasetModel::DynasetModel(QObject* parent) : QAbstractTableModel(parent) {}

DynasetModel::~DynasetModel() { Close(); }

void DynasetModel::Close() {
    if (!dynaset_) return;
    Ref<clsDynasetADO> rows = std::move(dynaset_);
    dynaset_ = nullptr;
    // A row the user began and never stored goes with the result.
    if (new_row_ >= 0) rows->CancelUpdate();
    rows->Detach();
    rows->Destructor();
}

void DynasetModel::SetDynaset(Ref<clsDynasetADO> rows) {
    beginResetModel();
    Close();
    columns_.clear();
    rows_.clear();
    updatable_ = false;
    exhausted_ = true;
    position_ = kUnknown;
    at_end_ = false;
    new_row_ = -1;
    dynaset_ = std::move(rows);
    try {
        Ref<ado::Recordset> rs = dynaset_ ? dynaset_->Recordset() : nullptr;
        const Ref<clsFieldsADO>& fields = dynaset_ ? dynaset_->FieldsCollection() : Ref<clsFieldsADO>();
        // A call that answered with no rows at all has no columns either.
        if (rs && rs->State() != ado::adStateClosed && fields) {
            Ref<ado::Fields> types = rs->Fields();
            const std::int32_t count = fields->Count();
            for (std::int32_t i = 0; i < count; ++i) {
                Column column;
                column.field = fields->Item(Variant(i));
                column.name = QString::fromStdString(column.field->Name());
                column.numeric = apps::IsNumericType(types->Item(Variant(i))->Type());
                columns_.push_back(std::move(column));
            }
            updatable_ = dynaset_->Updatable();
            // A dynaset opened from a call has not read whether any row is there.
            at_end_ = rs->Eof() || dynaset_->EOF_();
            exhausted_ = at_end_;
            position_ = 0;
        }
    } catch (const Error& e) {
        Tell(apps::FormatError(e));
        exhausted_ = true;
    }
    if (!exhausted_) rows_ = ReadBlock(kBlock);
    endResetModel();
}

std::vector<std::vector<Variant>> DynasetModel::ReadBlock(int limit) {
    std::vector<std::vector<Variant>> block;
    if (!MoveTo(static_cast<int>(rows_.size()))) {
        exhausted_ = true;
        return block;
    }
    try {
        for (int read = 0; read < limit && !at_end_; ++read) {
            block.push_back(CurrentValues());
            dynaset_->MoveNext();
            ++position_;
            at_end_ = dynaset_->EOF_();
        }
        exhausted_ = at_end_;
    } catch (const Error& e) {
        // The rows read so far stay; the rest of the result cannot be reached.
        Tell(apps::FormatError(e));
        exhausted_ = true;
        position_ = kUnknown;
    }
    return block;
}

std::vector<Variant> DynasetModel::CurrentValues() const {
    std::vector<Variant> values;
    values.reserve(columns_.size());
    for (const Column& column : columns_) values.push_back(column.field->ReadValue());
    return values;
}

bool DynasetModel::MoveTo(int row) {
    if (!dynaset_) return false;
    if (position_ == row && (!at_end_ || row == static_cast<int>(rows_.size()))) return true;
    try {
        const int last = static_cast<int>(rows_.size()) - 1;
        if (position_ == kUnknown || at_end_ || std::abs(row - position_) > row) {
            // Only a result read to its end has a last row the model knows.
            if (exhausted_ && last - row < row) {
                dynaset_->MoveLast();
                position_ = last;
            } else {
                dynaset_->MoveFirst();
                position_ = 0;
            }
        }
        for (; position_ < row; ++position_) dynaset_->MoveNext();
        for (; position_ > row; --position_) dynaset_->MovePrevious();
        at_end_ = dynaset_->EOF_();
        return !at_end_ || row == static_cast<int>(rows_.size());
    } catch (const Error& e) {
        Tell(apps::FormatError(e));
        position_ = kUnknown;
        return false;
    }
}

int DynasetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int DynasetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant DynasetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const Variant& value =
        rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return CellText(value);
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(
                Qt::Alignment(columns_[static_cast<std::size_t>(index.column())].numeric ? Qt::AlignRight
                                                                                         : Qt::AlignLeft) |
                Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant DynasetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columnCount()) return {};
        return columns_[static_cast<std::size_t>(section)].name;
    }
    // The row being added is marked as grids mark it until it is stored.
    return section == new_row_ ? QStringLiteral("*") : QString::number(section + 1);
}

Qt::ItemFlags DynasetModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (updatable_ && index.isValid()) flags |= Qt::ItemIsEditable;
    return flags;
}

bool DynasetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!updatable_ || role != Qt::EditRole || !index.isValid() || index.row() >= rowCount()) return false;
    const int row = index.row();
    // An editor closed without a change stores nothing: the row may have been changed by someone else
    // since, which would make storing it again a conflict the user never asked for.
    if (row != new_row_ && value.toString() == data(index, Qt::EditRole).toString()) return true;
    // Leaving the new row for another stores it, as leaving it in the grid does.
    if (new_row_ >= 0 && row != new_row_ && !StoreNewRow()) return false;
    if (!MoveTo(row)) return false;
    Column& column = columns_[static_cast<std::size_t>(index.column())];
    // The field takes text as the user typed it and converts it to the column's type; empty text is Null.
    Variant typed(value.toString().toStdString());
    const std::size_t messages = MessagesShown();
    try {
        column.field->SetError(0);
        column.field->SetValue(typed);
        if (column.field->Error() != 0) {
            Tell("The column " + column.name.toStdString() + " cannot take the value \"" +
                 value.toString().toStdString() + "\".");
            if (row != new_row_) dynaset_->CancelUpdate();
            return false;
        }
        if (row == new_row_) {
            rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(index.column())] =
                column.field->ReadValue();
            Q_EMIT dataChanged(index, index);
            return true;
        }
        if (dynaset_->Update() != 0) {
            // The library cancelled the change, and told the user why when it knows.
            if (MessagesShown() == messages) Tell("The change was not stored: the database refused it.");
            for (Column& c : columns_) c.field->Refresh();
            return false;
        }
        for (Column& c : columns_) c.field->Refresh();
        rows_[static_cast<std::size_t>(row)] = CurrentValues();
    } catch (const Error& e) {
        Tell(apps::FormatError(e));
        position_ = kUnknown;
        return false;
    }
    Q_EMIT dataChanged(this->index(row, 0), this->index(row, columnCount() - 1));
    return true;
}

bool DynasetModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && dynaset_ && !exhausted_;
}

void DynasetModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent)) return;
    std::vector<std::vector<Variant>> block = ReadBlock(kBlock);
    if (block.empty()) return;
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(block.size()) - 1);
    for (auto& values : block) rows_.push_back(std::move(values));
    endInsertRows();
}

bool DynasetModel::AddRow() {
    if (!updatable_ || new_row_ >= 0) return false;
    // The dynaset adds the row after its last: the model reads up to there first.
    while (canFetchMore(QModelIndex())) fetchMore(QModelIndex());
    try {
        if (!dynaset_->AddNew()) return false;
    } catch (const Error& e) {
        Tell(apps::FormatError(e));
        position_ = kUnknown;
        return false;
    }
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    rows_.emplace_back(columns_.size());
    new_row_ = row;
    position_ = row;
    at_end_ = false;
    endInsertRows();
    return true;
}

bool DynasetModel::StoreNewRow() {
    if (new_row_ < 0) return true;
    const int row = new_row_;
    const std::size_t messages = MessagesShown();
    bool stored = false;
    try {
        stored = dynaset_->Update() == 0;
        if (stored) {
            // The key the database gave, and the defaults it filled in, are read back.
            for (Column& c : columns_) c.field->Refresh();
            rows_[static_cast<std::size_t>(row)] = CurrentValues();
        } else if (MessagesShown() == messages) {
            Tell("The new row was not stored: the database refused it.");
        }
    } catch (const Error& e) {
        Tell(apps::FormatError(e));
    }
    new_row_ = -1;
    // The dynaset's own idea of where it stands does not follow an added row: it is placed afresh.
    position_ = kUnknown;
    if (stored) {
        Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
        Q_EMIT headerDataChanged(Qt::Vertical, row, row);
        return true;
    }
    // A row that was not stored is gone from the dynaset, which cancelled it; it goes from the grid too.
    beginRemoveRows(QModelIndex(), row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
    return false;
}

bool DynasetModel::DeleteRow(int row) {
    if (!updatable_ || row < 0 || row >= rowCount()) return false;
    if (row == new_row_) {
        dynaset_->CancelUpdate();
        new_row_ = -1;
    } else {
        if (new_row_ >= 0 && !StoreNewRow()) return false;
        if (!MoveTo(row)) return false;
        try {
            Ref<ado::Recordset> rs = dynaset_->Recordset();
            if (!rs) return false;
            rs->Delete(ado::adAffectCurrent);
        } catch (const Error& e) {
            Tell(apps::FormatError(e));
            position_ = kUnknown;
            return false;
        }
    }
    position_ = kUnknown;
    beginRemoveRows(QModelIndex(), row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
    return true;
}

}  // namespace korado::gui
