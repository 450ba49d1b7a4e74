// The native provider's forward-only cursor: one row's PGresult at a time, values read in place.
#include "dataaccess/providers/pg/pg_cursor.h"

namespace korado::dataaccess::pg {

PgCursor::PgCursor(PgStatement& statement, PGresult* first, const PgSession::Prepared* described)
    : statement_(statement), result_(first) {
    if (described && described->columns.size() == static_cast<std::size_t>(PQnfields(first))) {
        columns_ = described->columns;
        kinds_ = described->kinds;
    } else {
        statement_.session().DescribeColumns(first, columns_, kinds_, false);
    }
}

PgCursor::~PgCursor() {
    if (result_) PQclear(result_);
}

bool PgCursor::Next() {
    if (done_) return false;
    if (result_ && row_ + 1 < PQntuples(result_)) {
        ++row_;
        return true;
    }
    while (true) {
        // In single-row mode the rows come one PGresult each and a last, empty PGRES_TUPLES_OK ends them.
        if (result_ && PQresultStatus(result_) == PGRES_TUPLES_OK) {
            PQclear(result_);
            result_ = nullptr;
            done_ = true;
            return false;
        }
        if (result_) PQclear(result_);
        result_ = statement_.Pull();
        row_ = -1;
        if (!result_) {
            done_ = true;
            return false;
        }
        switch (PQresultStatus(result_)) {
            case PGRES_SINGLE_TUPLE:
            case PGRES_TUPLES_OK:
                if (PQntuples(result_) > 0) {
                    row_ = 0;
                    return true;
                }
                continue;
            default: {
                // A failure in the middle of the rows (a division by zero at row n, a lost link).
                PGresult* failed = result_;
                result_ = nullptr;
                done_ = true;
                statement_.Fail(failed);
            }
        }
    }
}

void PgCursor::Read(std::size_t column, Variant& out) {
    int c = static_cast<int>(column);
    if (!result_ || row_ < 0 || PQgetisnull(result_, row_, c)) {
        out.AssignNull();
        return;
    }
    ReadValue(kinds_[column], PQgetvalue(result_, row_, c), PQgetlength(result_, row_, c), out);
}

bool PgCursor::ReadView(std::size_t column, std::string_view& data, ViewKind& kind) {
    if (kinds_[column] != ValueKind::kText || !result_ || row_ < 0) return false;
    int c = static_cast<int>(column);
    if (PQgetisnull(result_, row_, c)) return false;
    data = std::string_view(PQgetvalue(result_, row_, c),
                            static_cast<std::size_t>(PQgetlength(result_, row_, c)));
    kind = ViewKind::kText;
    return true;
}

}  // namespace korado::dataaccess::pg
