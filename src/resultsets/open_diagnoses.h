// What a query's failure to open becomes, as a pure function: the dynaset's open handler gathers the
// failure and the connection's first error entry, asks Classify, and carries out the outcome. Kept apart
// from the dynaset so that every row of the table can be checked without a database.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korado::open_diagnoses {

// The failed Open as the table sees it.
struct OpenFailure {
    // The failure of the Open call itself.
    std::string source;
    std::int32_t number = 0;
    std::string description;
    // The first entry of the connection's Errors (zeros and empty texts when there is none).
    std::int32_t native_error = 0;
    std::int32_t first_number = 0;
    std::string first_source;
    std::string first_description;
    // DBMSName of the library's current connection; only read for failures of the ODBC bridge (see
    // NeedsDbmsName), which is the one source whose rows depend on the database behind it.
    std::string dbms_name;
    // The SQL as the host gave it (searched for "openquery").
    std::string sql;
};

// True when Classify reads dbms_name for a failure from `source`.
bool NeedsDbmsName(std::string_view source);

// Retries taken during one Constructor call: each kind at most once per call.
struct RetryFlags {
    bool mysql_gone_away = false;   // MySQL native 2006
    bool mysql_lost = false;        // MySQL native 2013
    bool desktop_driver = false;    // Paradox and dBase drivers' -5026 (shared by both)
    bool multiple_step = false;     // 0x80040E21 with native 0
};

struct OpenOutcome {
    enum Kind {
        Raise,           // raise `code` with `text` (source the library's title); Error stays 0
        Report,          // g_ADOError.Exception(text, GeneralException)
        Box,             // an information message box with `text`, titled `title`
        DefaultReport,   // m_ReportQueryError(text, the SQL that ran): `text` is the fallback description
        StandardPath,    // HandleError("clsDynasetADO", "Constructor")
        Retry,           // open again (the flag was set by Classify)
        ReconnectRetry,  // Reconnect the connection object, rebind the command to it, open again
        GiveUp,          // a retry already taken: nothing further, Error = 1 and no message
    } kind = DefaultReport;
    std::int32_t code = 0;  // Raise
    std::string text;       // empty for the retries, GiveUp and StandardPath
    std::string title;      // the box's title (Box); the raised error's source (Raise)
};

// The first row of the table that matches decides. Sets the retry flag of a Retry or ReconnectRetry.
OpenOutcome Classify(const OpenFailure& failure, RetryFlags& flags);

}  // namespace korado::open_diagnoses
