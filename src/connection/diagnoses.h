// The connection object's failure tables as pure functions: which message (and which of the library's
// codes) a provider failure becomes, chosen by the error's source, number, native error and text. Kept
// apart from the connection object so that every row can be checked without a database.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korado::diagnoses {

// A provider failure as the tables see it. `native_error` is that of the first entry of the connection's
// Errors (not necessarily of the raised error).
struct Failure {
    std::string source;
    std::int32_t number = 0;
    std::string description;
    std::int32_t native_error = 0;
};

// Where the user is sent for ODBC driver manager and driver downloads: the installed copy of the
// project's own page on installing and updating unixODBC and the drivers.
std::string_view DriverDownloadLocation();

// The description of the ConnectionError raised when opening the connection fails.
std::string ConnectFailure(const Failure& f);

// What running a statement's failure becomes: a library error raised to the host, or a message shown
// through the shared error object (after which the statement's results are left untouched).
struct ExecuteOutcome {
    enum Kind { Raise, Report } kind = Report;
    std::int32_t code = 0;          // the library code to raise (Raise)
    std::int32_t exception_type = 0;  // enumExceptionType for the message (Report)
    std::string text;
};
// `parameter_count`: how many bind-variable names the statement was given; `sql` the text that ran;
// `extended_properties` the connection's "Extended Properties" at connect time.
ExecuteOutcome ExecuteFailure(const Failure& f, std::int32_t parameter_count, std::string_view sql,
                              std::string_view extended_properties);

}  // namespace korado::diagnoses
