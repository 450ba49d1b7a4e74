// The bridge's statements: command text, parameters bound with SQLBindParameter, execution under a
// time-out, results in order, output values.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "dataaccess/properties.h"
#include "dataaccess/providers/odbc/odbc_cursor.h"
#include "dataaccess/providers/odbc/odbc_seams.h"
#include "dataaccess/providers/odbc/odbc_session.h"
#include "dataaccess/providers/odbc/odbc_text.h"
#include "dataaccess/providers/odbc/odbc_values.h"
#include "dataaccess/providers/odbc/odbc_watchdog.h"
#include "dataaccess/type_kinds.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess::odbc {

// One bound parameter: its buffer and indicator stay put (the slot is heap-allocated) for as long as the
// driver may write output values into them.
struct OdbcStatement::ParamSlot {
    std::size_t param_index = 0;
    std::int32_t type = ado::adEmpty;  // the platform type bound (adVariant resolved)
    SQLSMALLINT io = SQL_PARAM_INPUT;
    SQLSMALLINT c_type = SQL_C_WCHAR;
    SQLSMALLINT sql_type = SQL_WVARCHAR;
    SQLULEN column_size = 0;
    SQLSMALLINT digits = 0;
    std::vector<unsigned char> buffer;
    SQLLEN indicator = 0;
};

namespace {

// Text parameters without a size, bound for output.
constexpr std::size_t kDefaultOutputChars = 4000;
// Above this many characters (bytes) a parameter is bound as long data.
constexpr std::size_t kLongParameter = 4000;

bool IsOutput(std::int32_t direction) {
    return direction == ado::adParamOutput || direction == ado::adParamInputOutput ||
           direction == ado::adParamReturnValue;
}

bool IsInput(std::int32_t direction) {
    return direction == ado::adParamInput || direction == ado::adParamInputOutput ||
           direction == ado::adParamUnknown;
}

bool HasNoValue(const Variant& v) { return v.IsNull() || v.IsEmpty() || v.IsMissing(); }

// The platform type an adVariant (or untyped) parameter takes from its value.
std::int32_t InferType(const Variant& v) {
    switch (v.Type()) {
        case VarType::Boolean:
            return ado::adBoolean;
        case VarType::Byte:
            return ado::adUnsignedTinyInt;
        case VarType::Integer:
            return ado::adSmallInt;
        case VarType::Long:
            return ado::adInteger;
        case VarType::LongLong:
            return ado::adBigInt;
        case VarType::Single:
            return ado::adSingle;
        case VarType::Double:
            return ado::adDouble;
        case VarType::Currency:
            return ado::adCurrency;
        case VarType::Decimal:
            return ado::adDecimal;
        case VarType::Date:
            return ado::adDBTimeStamp;
        case VarType::ByteArray:
            return ado::adVarBinary;
        default:
            return ado::adVarWChar;
    }
}

template <class T>
void Store(OdbcStatement::ParamSlot& s, const T& value) {
    s.buffer.resize(sizeof(T));
    std::memcpy(s.buffer.data(), &value, sizeof(T));
    s.indicator = sizeof(T);
}

template <class T>
T Load(const OdbcStatement::ParamSlot& s) {
    T v{};
    std::memcpy(&v, s.buffer.data(), std::min(sizeof(T), s.buffer.size()));
    return v;
}

void StoreText(OdbcStatement::ParamSlot& s, const std::u16string& text, std::size_t capacity_units) {
    s.buffer.assign(std::max(capacity_units, text.size() + 1) * sizeof(char16_t), 0);
    std::memcpy(s.buffer.data(), text.data(), text.size() * sizeof(char16_t));
    s.indicator = static_cast<SQLLEN>(text.size() * sizeof(char16_t));
}

void StoreNarrow(OdbcStatement::ParamSlot& s, const std::string& text, std::size_t capacity) {
    s.buffer.assign(std::max(capacity, text.size() + 1), 0);
    std::memcpy(s.buffer.data(), text.data(), text.size());
    s.indicator = static_cast<SQLLEN>(text.size());
}

SQL_TIMESTAMP_STRUCT TimestampOf(Date d) {
    DateParts p = PartsFromDate(d);
    SQL_TIMESTAMP_STRUCT t{};
    t.year = static_cast<SQLSMALLINT>(p.year);
    t.month = static_cast<SQLUSMALLINT>(p.month);
    t.day = static_cast<SQLUSMALLINT>(p.day);
    t.hour = static_cast<SQLUSMALLINT>(p.hour);
    t.minute = static_cast<SQLUSMALLINT>(p.minute);
    t.second = static_cast<SQLUSMALLINT>(p.second);
    // The automation date keeps milliseconds at best; more digits would be noise of the binary fraction.
    long long ms = std::min(999LL, std::llround(p.fraction * 1000.0));
    t.fraction = static_cast<SQLUINTEGER>(ms * 1000000);
    return t;
}

std::size_t DigitCount(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

// An input value as text for a driver to convert (MariaDB's outputs, see Encode).
std::string ValueText(std::int32_t type, const Variant& value) {
    switch (type) {
        case ado::adBoolean:
            return CBool(value) ? "1" : "0";
        case ado::adDate:
        case ado::adDBTimeStamp:
        case ado::adDBDate:
        case ado::adDBTime:
        case ado::adFileTime:
            return FormatDate(CDate(value));
        case ado::adNumeric:
        case ado::adDecimal:
        case ado::adVarNumeric:
            return FormatDecimal(CDec(value));
        case ado::adCurrency:
            return FormatCurrency(CCur(value));
        default:
            return CStr(value);
    }
}

// A value the driver wrote as text, as the platform type the parameter has.
Variant TextValue(std::int32_t type, std::string_view text) {
    Variant v{std::string(text)};
    try {
        switch (type) {
            case ado::adNumeric:
            case ado::adDecimal:
            case ado::adVarNumeric:
                return NumericVariant(text);
            case ado::adCurrency:
                return Variant(CCur(NumericVariant(text)));
            case ado::adDate:
            case ado::adDBTimeStamp:
            case ado::adDBDate:
            case ado::adDBTime:
            case ado::adFileTime:
                if (std::optional<Date> d = ParseDate(text)) return Variant(*d);
                return v;
            case ado::adGUID: {
                std::u16string w = ToUtf16(text);
                return GuidVariant(w.data(), w.size());
            }
            default:
                return CoerceToType(v, type);
        }
    } catch (const Error&) {
        return v;  // text the type cannot hold stays text
    }
}

// Fills `s` for parameter `p`: its ODBC types, direction and the buffer its input value goes in.
void Encode(OdbcStatement::ParamSlot& s, const ParamBinding& p, const DriverTraits& traits) {
    bool in = IsInput(p.direction);
    bool out = IsOutput(p.direction);
    s.io = in && out ? SQL_PARAM_INPUT_OUTPUT : out ? SQL_PARAM_OUTPUT : SQL_PARAM_INPUT;
    const Variant& value = p.value;
    bool null = !in || HasNoValue(value);
    s.type = p.type;
    if (s.type == ado::adVariant || s.type == ado::adEmpty) s.type = InferType(value);
    std::size_t size = p.size > 0 ? static_cast<std::size_t>(p.size) : 0;

    switch (s.type) {
        case ado::adBSTR:
        case ado::adChar:
        case ado::adVarChar:
        case ado::adLongVarChar:
        case ado::adWChar:
        case ado::adVarWChar:
        case ado::adLongVarWChar: {
            std::u16string text = null ? std::u16string() : ToUtf16(CStr(value));
            std::size_t chars = std::max({size, text.size(), std::size_t{1}});
            bool wide = s.type == ado::adWChar || s.type == ado::adVarWChar ||
                        s.type == ado::adLongVarWChar || s.type == ado::adBSTR;
            bool is_long =
                s.type == ado::adLongVarChar || s.type == ado::adLongVarWChar || chars > kLongParameter;
            if (s.type == ado::adChar || s.type == ado::adWChar) {
                s.sql_type = wide ? SQL_WCHAR : SQL_CHAR;
            } else if (is_long) {
                s.sql_type = wide ? SQL_WLONGVARCHAR : SQL_LONGVARCHAR;
            } else {
                s.sql_type = wide ? SQL_WVARCHAR : SQL_VARCHAR;
            }
            s.column_size = chars;
            if (out && traits.narrow_output_text) {
                s.c_type = SQL_C_CHAR;
                std::string utf8 = ToUtf8(text);
                // Four bytes per character hold any character in UTF-8.
                StoreNarrow(s, utf8, 4 * std::max(size ? size : kDefaultOutputChars, text.size()) + 1);
                break;
            }
            s.c_type = SQL_C_WCHAR;
            // Two units per character leave room for characters outside the BMP in an output value.
            std::size_t capacity = out ? 2 * std::max(size ? size : kDefaultOutputChars, text.size()) + 1 : 0;
            StoreText(s, text, capacity);
            break;
        }
        case ado::adBinary:
        case ado::adVarBinary:
        case ado::adLongVarBinary: {
            Bytes bytes;
            if (!null) {
                if (const Bytes* b = value.get_if<Bytes>()) {
                    bytes = *b;
                } else {
                    std::string text = CStr(value);
                    bytes.assign(text.begin(), text.end());
                }
            }
            std::size_t length = std::max({size, bytes.size(), std::size_t{1}});
            s.c_type = SQL_C_BINARY;
            s.sql_type = s.type == ado::adBinary                                     ? SQL_BINARY
                         : s.type == ado::adLongVarBinary || length > kLongParameter ? SQL_LONGVARBINARY
                                                                                     : SQL_VARBINARY;
            s.column_size = length;
            s.buffer.assign(
                std::max(out ? std::max(size ? size : kDefaultOutputChars, bytes.size()) : 0, bytes.size()) +
                    1,
                0);
            if (!bytes.empty()) std::memcpy(s.buffer.data(), bytes.data(), bytes.size());
            s.indicator = static_cast<SQLLEN>(bytes.size());
            break;
        }
        case ado::adNumeric:
        case ado::adDecimal:
        case ado::adVarNumeric:
        case ado::adCurrency: {
            std::string text;
            if (!null)
                text = s.type == ado::adCurrency ? FormatCurrency(CCur(value)) : FormatDecimal(CDec(value));
            s.c_type = SQL_C_CHAR;
            s.sql_type = s.type == ado::adCurrency || s.type == ado::adDecimal ? SQL_DECIMAL : SQL_NUMERIC;
            if (s.type == ado::adCurrency) {
                s.column_size = 19, s.digits = 4;
            } else if (p.precision > 0) {
                s.column_size = p.precision, s.digits = p.scale;
            } else {
                std::size_t point = text.find('.');
                s.digits = static_cast<SQLSMALLINT>(point == std::string::npos ? 0 : text.size() - point - 1);
                s.column_size = std::max<std::size_t>(DigitCount(text), 1);
            }
            StoreNarrow(s, text, out ? 80 : 0);
            break;
        }
        case ado::adBoolean:
            s.c_type = SQL_C_BIT, s.sql_type = SQL_BIT, s.column_size = 1;
            Store(s, static_cast<unsigned char>(!null && CBool(value) ? 1 : 0));
            break;
        case ado::adTinyInt:
            s.c_type = SQL_C_STINYINT, s.sql_type = SQL_TINYINT, s.column_size = 3;
            Store(s, static_cast<signed char>(null ? 0 : std::clamp<int>(CInt(value), -128, 127)));
            if (!null && (CInt(value) < -128 || CInt(value) > 127)) RaiseRuntime(rt::Overflow);
            break;
        case ado::adUnsignedTinyInt:
            s.c_type = SQL_C_UTINYINT, s.sql_type = SQL_TINYINT, s.column_size = 3;
            Store(s, static_cast<unsigned char>(null ? 0 : CByte(value)));
            break;
        case ado::adSmallInt:
            s.c_type = SQL_C_SSHORT, s.sql_type = SQL_SMALLINT, s.column_size = 5;
            Store(s, static_cast<SQLSMALLINT>(null ? 0 : CInt(value)));
            break;
        case ado::adUnsignedSmallInt:
        case ado::adInteger:
            s.c_type = SQL_C_SLONG, s.sql_type = SQL_INTEGER, s.column_size = 10;
            Store(s, static_cast<SQLINTEGER>(null ? 0 : CLng(value)));
            break;
        case ado::adUnsignedInt:
        case ado::adBigInt:
        case ado::adUnsignedBigInt:
            s.c_type = SQL_C_SBIGINT, s.sql_type = SQL_BIGINT, s.column_size = 19;
            Store(s, static_cast<SQLBIGINT>(null ? 0 : CLngLng(value)));
            break;
        case ado::adSingle:
            s.c_type = SQL_C_FLOAT, s.sql_type = SQL_REAL, s.column_size = 7;
            Store(s, null ? 0.0f : CSng(value));
            break;
        case ado::adDouble:
            s.c_type = SQL_C_DOUBLE, s.sql_type = SQL_DOUBLE, s.column_size = 15;
            Store(s, null ? 0.0 : CDbl(value));
            break;
        case ado::adDate:
        case ado::adDBTimeStamp:
        case ado::adFileTime:
            s.c_type = SQL_C_TYPE_TIMESTAMP, s.sql_type = SQL_TYPE_TIMESTAMP, s.column_size = 23,
            s.digits = 3;
            Store(s, null ? SQL_TIMESTAMP_STRUCT{} : TimestampOf(CDate(value)));
            break;
        case ado::adDBDate: {
            s.c_type = SQL_C_TYPE_DATE, s.sql_type = SQL_TYPE_DATE, s.column_size = 10;
            SQL_DATE_STRUCT d{};
            if (!null) {
                SQL_TIMESTAMP_STRUCT t = TimestampOf(CDate(value));
                d.year = t.year, d.month = t.month, d.day = t.day;
            }
            Store(s, d);
            break;
        }
        case ado::adDBTime: {
            s.c_type = SQL_C_TYPE_TIME, s.sql_type = SQL_TYPE_TIME, s.column_size = 8;
            SQL_TIME_STRUCT t{};
            if (!null) {
                SQL_TIMESTAMP_STRUCT ts = TimestampOf(CDate(value));
                t.hour = ts.hour, t.minute = ts.minute, t.second = ts.second;
            }
            Store(s, t);
            break;
        }
        case ado::adGUID: {
            std::string text = null ? std::string() : CStr(value);
            if (!text.empty() && text.front() == '{') text.erase(0, 1);
            if (!text.empty() && text.back() == '}') text.pop_back();
            s.c_type = SQL_C_WCHAR, s.sql_type = SQL_GUID, s.column_size = 36;
            StoreText(s, ToUtf16(text), out ? 40 : 0);
            break;
        }
        default:
            throw ProviderError({Diagnostic{hr::DB_E_BADBINDINFO, std::string(kErrorSource),
                                            "Binding information is invalid.", 0, "HY004"}});
    }
    // MariaDB Connector/ODBC writes an output-only value as its text whatever the buffer's C type: bind
    // every output of another type as text too, and read the value back from it in Decode.
    if (out && traits.narrow_output_text && s.c_type != SQL_C_CHAR && s.c_type != SQL_C_BINARY) {
        s.c_type = SQL_C_CHAR;
        StoreNarrow(s, null ? std::string() : ValueText(s.type, value), 128);
    }
    if (null) s.indicator = SQL_NULL_DATA;
}

Variant Decode(const OdbcStatement::ParamSlot& s) {
    if (s.indicator == SQL_NULL_DATA) return Variant::Null();
    std::size_t length =
        s.indicator == SQL_NO_TOTAL ? s.buffer.size() : static_cast<std::size_t>(s.indicator);
    switch (s.c_type) {
        case SQL_C_WCHAR: {
            std::size_t units = std::min(length / 2, s.buffer.size() / 2 - 1);
            const auto* text = reinterpret_cast<const char16_t*>(s.buffer.data());
            if (s.type == ado::adGUID) return GuidVariant(text, units);
            Variant v;
            AssignText(v, text, units);
            return v;
        }
        case SQL_C_BINARY: {
            std::size_t bytes = std::min(length, s.buffer.size());
            return Variant(Bytes(s.buffer.begin(), s.buffer.begin() + static_cast<std::ptrdiff_t>(bytes)));
        }
        case SQL_C_CHAR: {
            std::size_t bytes = std::min(length, s.buffer.size() - 1);
            std::string_view text(reinterpret_cast<const char*>(s.buffer.data()), bytes);
            if (IsTextType(s.type)) return Variant(std::string(text));
            return TextValue(s.type, text);
        }
        case SQL_C_BIT:
            return Variant(Load<unsigned char>(s) != 0);
        case SQL_C_STINYINT:
            return Variant(static_cast<std::int16_t>(Load<signed char>(s)));
        case SQL_C_UTINYINT:
            return Variant(static_cast<std::uint8_t>(Load<unsigned char>(s)));
        case SQL_C_SSHORT:
            return Variant(static_cast<std::int16_t>(Load<SQLSMALLINT>(s)));
        case SQL_C_SLONG:
            return Variant(static_cast<int>(Load<SQLINTEGER>(s)));
        case SQL_C_SBIGINT:
            return Variant(static_cast<long long>(Load<SQLBIGINT>(s)));
        case SQL_C_FLOAT:
            return Variant(Load<float>(s));
        case SQL_C_DOUBLE:
            return Variant(Load<double>(s));
        case SQL_C_TYPE_TIMESTAMP:
            return FixedVariant(ValueKind::kTimestamp, s.buffer.data());
        case SQL_C_TYPE_DATE:
            return FixedVariant(ValueKind::kDate, s.buffer.data());
        case SQL_C_TYPE_TIME:
            return FixedVariant(ValueKind::kTime, s.buffer.data());
        default:
            return Variant::Null();
    }
}

// Lists a call in the session's calls in progress while in scope, for interrupts. Leaving the list waits
// for an interrupt under way (see odbc_session.h).
class ExecutingScope {
  public:
    ExecutingScope(SessionCore& core, SQLHSTMT stmt, std::atomic<bool>& cancelled)
        : core_(core), stmt_(stmt) {
        std::lock_guard guard(core_.calls_mutex);
        core_.executing.push_back(ExecutingCall{stmt, &cancelled});
    }
    ~ExecutingScope() {
        std::lock_guard guard(core_.calls_mutex);
        std::erase_if(core_.executing, [this](const ExecutingCall& c) { return c.stmt == stmt_; });
    }
    ExecutingScope(const ExecutingScope&) = delete;
    ExecutingScope& operator=(const ExecutingScope&) = delete;

  private:
    SessionCore& core_;
    SQLHSTMT stmt_;
};

}  // namespace

OdbcStatement::OdbcStatement(std::shared_ptr<SessionCore> core, std::string_view text,
                             const ExecuteOptions& options)
    : core_(std::move(core)), text_(text), options_(options) {
    try {
        stmt_ = Allocate<SQL_HANDLE_STMT>(SQL_HANDLE_DBC, core_->dbc());
    } catch (const ProviderError& e) {
        core_->Fail(e.Records(), text_);
    }
    if (options_.timeout_seconds > 0) {
        auto seconds = static_cast<SQLULEN>(options_.timeout_seconds);
        SQLRETURN rc =
            SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(seconds), 0);
        // A driver that took the time-out still has the watchdog behind it, a little later, in case its
        // own time-out does not reach a call (a lock wait, a driver that stores and ignores it).
        bool native = rc == SQL_SUCCESS && core_->traits.native_query_timeout;
        watchdog_after_ = std::chrono::milliseconds(options_.timeout_seconds * 1000LL + (native ? 2000 : 0));
    }
}

OdbcStatement::~OdbcStatement() { CloseResult(); }

SQLRETURN OdbcStatement::Checked(SQLRETURN rc, std::string_view function) {
    switch (Ended(rc, function)) {
        case CallEnd::kDone:
            break;
        case CallEnd::kWithInfo:
            core_->AddWarnings(ReadDiagnostics(SQL_HANDLE_STMT, stmt_.get(), core_->traits.narrow_text));
            break;
        case CallEnd::kFailed:
            Fail(rc, function);
    }
    return rc;
}

void OdbcStatement::Fail(SQLRETURN rc, std::string_view function, SQLHSTMT handle) {
    std::vector<Diagnostic> records = FailureRecords(rc, SQL_HANDLE_STMT, handle ? handle : stmt_.get(),
                                                     function, core_->traits.narrow_text);
    Diagnostic& first = records.front();
    if (cancelled_) {
        first.number = hr::DB_E_CANCELED;
    } else if (timed_out_.load() ||
               (options_.timeout_seconds > 0 && (first.sql_state == "57014" || first.sql_state == "HY008" ||
                                                 first.sql_state == "HYT00" || first.sql_state == "HYT01"))) {
        // Past its time-out, however the driver reports the interruption (PostgreSQL's statement_timeout,
        // MariaDB's "Query execution was interrupted" after the watchdog's cancel, SQLite's "interrupted"):
        // the driver's text stays, the state and number say time-out.
        first.number = hr::DB_E_ABORTLIMITREACHED;
        first.sql_state = "HYT00";
    }
    core_->Fail(std::move(records), executed_text_.empty() ? text_ : executed_text_);
}

void OdbcStatement::CloseResult() {
    cursor_.reset();  // joins the cursor's threads: not under the session lock
    if (has_results_) {
        // psqlODBC closes its server cursor with a statement of its own, which must not fall between another
        // read's FETCH and its undo.
        std::lock_guard lock(core_->lock);
        SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    }
    has_results_ = false;
}

void OdbcStatement::BindParameters(std::span<ParamBinding> params) {
    // A return value is the "? =" marker before all others, wherever the caller put it in the list.
    std::vector<std::size_t> order(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) order[i] = i;
    std::stable_partition(order.begin(), order.end(),
                          [&](std::size_t i) { return params[i].direction == ado::adParamReturnValue; });
    for (std::size_t i : order) {
        auto slot = std::make_unique<ParamSlot>();
        slot->param_index = i;
        try {
            Encode(*slot, params[i], core_->traits);
        } catch (const ProviderError&) {
            throw;
        } catch (const Error& e) {
            std::string name = params[i].name.empty() ? std::to_string(i) : "'" + params[i].name + "'";
            throw Error(ado::adErrDataConversion, "ADODB.Command",
                        "Application uses a value of the wrong type for the current operation. (parameter " +
                            name + ": " + e.Description() + ")");
        }
        slots_.push_back(std::move(slot));
    }
    for (std::size_t n = 0; n < slots_.size(); ++n) {
        ParamSlot& s = *slots_[n];
        Checked(SQLBindParameter(stmt_.get(), static_cast<SQLUSMALLINT>(n + 1), s.io, s.c_type, s.sql_type,
                                 s.column_size, s.digits, s.buffer.data(),
                                 static_cast<SQLLEN>(s.buffer.size()), &s.indicator),
                "SQLBindParameter");
    }
}

template <class Call>
SQLRETURN OdbcStatement::Interruptible(Call call) {
    SQLRETURN rc;
    {
        ExecutingScope executing(*core_, stmt_.get(), cancelled_);
        TimeoutGuard guard(core_, stmt_.get(), watchdog_after_, timed_out_);
        rc = call();
        seams::Reach(seams::Point::kCallReturned);
    }
    // An interrupt that reached the call as it returned interrupted nothing: the statement completed. The
    // driver's SQLCancel may have closed its result all the same, without a word (the SQLite3 driver's then
    // reads as empty), so such a result is not trusted.
    const bool late = Succeeded(rc) && (timed_out_ || cancelled_);
    result_lost_ = late && core_->CancelsThroughDriver(timed_out_ ? SessionCore::Why::kTimeout
                                                                  : SessionCore::Why::kCancel);
    if (late) timed_out_ = cancelled_ = false;
    return rc;
}

void OdbcStatement::Execute(std::span<ParamBinding> params) {
    // Before the session lock: closing a long read joins its threads, which may wait for that lock.
    CloseResult();
    std::lock_guard lock(core_->lock);
    ++core_->statements_sent;
    SQLFreeStmt(stmt_.get(), SQL_RESET_PARAMS);
    slots_.clear();
    rows_affected_ = -1;

    bool return_value = std::any_of(params.begin(), params.end(), [](const ParamBinding& p) {
        return p.direction == ado::adParamReturnValue;
    });
    switch (options_.command_type) {
        case ado::adCmdStoredProc:
            executed_text_ = ProcedureCallText(text_, params.size() - (return_value ? 1 : 0), return_value);
            break;
        case ado::adCmdTable:
        case ado::adCmdTableDirect:
            executed_text_ = "SELECT * FROM " + text_;
            break;
        default:
            executed_text_ = text_;
            break;
    }
    if (!core_->traits.narrow_text) executed_text_w_ = ToUtf16(executed_text_);
    BindParameters(params);

    timed_out_ = false;
    cancelled_ = false;
    auto run = [&] {
        return Interruptible([&] {
            return core_->traits.narrow_text ? SQLExecDirect(stmt_.get(), N(executed_text_), SQL_NTS)
                                             : SQLExecDirectW(stmt_.get(), W(executed_text_w_), SQL_NTS);
        });
    };
    SQLRETURN rc = run();
    // psqlODBC sends a call as a SELECT of a function, which PostgreSQL refuses for a procedure (42809): only
    // its CALL statement runs one. The refused statement rolled back alone (the bridge connects psqlODBC with
    // Protocol ...-2), so a stored-procedure command runs once more as CALL, with the same bindings;
    // psqlODBC fills output parameters from CALL's row as from a function's.
    if (rc == SQL_ERROR && options_.command_type == ado::adCmdStoredProc &&
        core_->traits.kind == DriverKind::kPostgreSQL && !cancelled_ && !timed_out_ &&
        FirstSqlState() == "42809") {
        if (std::string call = CallStatementText(executed_text_); !call.empty()) {
            executed_text_ = std::move(call);
            if (!core_->traits.narrow_text) executed_text_w_ = ToUtf16(executed_text_);
            rc = run();
        }
    }
    Checked(rc, "SQLExecDirect");
    core_->last_contact = std::chrono::steady_clock::now();
    has_results_ = true;
    StartResult();
}

std::string OdbcStatement::FirstSqlState() {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!Succeeded(SQLGetDiagRec(SQL_HANDLE_STMT, stmt_.get(), 1, state, &native, nullptr, 0, &length)))
        return {};
    return std::string(reinterpret_cast<const char*>(state), 5);
}

void OdbcStatement::StartResult() {
    if (result_lost_) {
        core_->Fail(
            {Diagnostic{hr::E_FAIL, std::string(kErrorSource),
                        "The statement completed, but an interrupt that reached it as it ended closed "
                        "its result.",
                        0, "HY000"}},
            executed_text_);
    }
    SQLSMALLINT columns = 0;
    Checked(SQLNumResultCols(stmt_.get(), &columns), "SQLNumResultCols");
    if (columns > 0) {
        cursor_ = std::make_unique<OdbcCursor>(*this, columns);
        rows_affected_ = -1;
    } else {
        SQLLEN count = -1;
        Checked(SQLRowCount(stmt_.get(), &count), "SQLRowCount");
        rows_affected_ = count;
    }
}

Cursor* OdbcStatement::Result() { return cursor_.get(); }

bool OdbcStatement::NextResult() {
    if (!has_results_) return false;
    cursor_.reset();  // before the session lock, as in Execute
    std::lock_guard lock(core_->lock);
    ++core_->statements_sent;  // a batch's later statements run as their results are asked for
    SQLRETURN rc = Interruptible([&] { return SQLMoreResults(stmt_.get()); });
    if (Checked(rc, "SQLMoreResults") == SQL_NO_DATA) {
        has_results_ = false;
        rows_affected_ = -1;
        return false;
    }
    StartResult();
    return true;
}

void OdbcStatement::FetchOutputParameters(std::span<ParamBinding> params) {
    for (const auto& slot : slots_) {
        if (slot->io == SQL_PARAM_INPUT || slot->param_index >= params.size()) continue;
        params[slot->param_index].value = Decode(*slot);
    }
}

void OdbcStatement::Cancel() { core_->Interrupt(stmt_.get(), SessionCore::Why::kCancel, &cancelled_); }

}  // namespace korado::dataaccess::odbc
