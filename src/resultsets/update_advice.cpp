#include "resultsets/update_advice.h"

#include "korado/export.h"
#include "korado/runtime/error.h"
#include "korado/runtime/strings.h"

namespace korado::update_advice {
namespace {

const std::string NL = "\r\n";

constexpr std::int32_t kFail = Hr(0x80004005);
constexpr std::int32_t kRowNotFound = Hr(0x80040E38);
constexpr std::int32_t kNoTable = Hr(0x80040E37);
constexpr std::int32_t kErrorsInCommand = Hr(0x80040E14);

std::string DriverReported(const std::string& d) {
    return "The driver reported the following error:" + NL + d + NL + NL;
}

}  // namespace

std::string Advice(const UpdateFailure& f) {
    const std::string& d = f.description;
    // ORA-01006 at update time is the driver's fault, not the user's: a fix or another driver is the way out.
    if (Contains(f.first_source, "ORA") && f.native_error == 1006 && f.number == kFail)
        return DriverReported(d) +
               "You have hit a bug in the driver. See the microsoft knowledge base article Q292604" + NL +
               NL + "Advice:" + NL + "Install that latest service pack for Windows (2000) or" + NL +
               "Use another Oracle driver (OLE DB or OO4O).";
    // Through the ODBC bridge a table without a key is updated by its old values, which may match many rows.
    if (Contains(f.source, "MSDASQL") && f.number == kFail)
        return DriverReported(d) + "Advice:" + NL +
               "We have only seen this error with ODBC drivers. If you can, switch to using an OLE DB driver "
               "or "
               "another alternative. Alternatively, create a primary key on your table to prevent this from "
               "happening. The update to the current row has probably been replicated throughout the table "
               "where "
               "this column had the old value.";
    // Someone else changed or deleted the row since it was read.
    if (f.number == kRowNotFound)
        return DriverReported(d) + "Advice:" + NL + "Please requery the data and try the updates again";
    // DB2's SQL0204N: names it folded to upper case do not match the catalog's.
    if (f.native_error == -204 && f.number == kNoTable)
        return "Driver Error:" + d + NL + NL + "Advice:" + NL +
               "This error may occur if you used a lower case scheme name, table name or column name. Retry "
               "using "
               "all names in upper case.";
    if (f.native_error == 4427 && f.number == kErrorsInCommand &&
        (ContainsText(d, "SQL Server") || ContainsText(f.first_source, "SQL Server")) &&
        ContainsText(d, "TOP clause"))
        return std::string(
                   "You seem to use a view or a function that contains the TOP clause in its definition. "
                   "Because of this ") +
               kHostProductName +
               " cannot perform updates on the current query. This error can also occur when using ODBC and "
               "when "
               "using Views in which an ORDER BY clause is used. Changing the ADOConnection to OLE DB solves "
               "the "
               "problem in the latter case." +
               NL + NL + "Advice:" + NL +
               "Open the view or function you try to update in query analyser as a create statement (right "
               "click "
               "the object). Copy the SQL contents in the query dialog and remove the TOP clause. Then try "
               "the "
               "updates again.";
    return {};
}

}  // namespace korado::update_advice
