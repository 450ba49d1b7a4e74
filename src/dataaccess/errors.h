// Error and Errors of the platform stand-in: the diagnostics of a connection's most recent failing provider
// call (one Error per native record), plus warnings of later calls appended without a failure.
//
// The Errors collection is owned by its connection; each Error is an immutable copy of a Diagnostic.
// Failures: Item raises 3265 from "ADODB.Errors" for an index out of range.
#pragma once

#include <vector>

#include "dataaccess/provider.h"
#include "korado/platform/adodb.h"

namespace korado::dataaccess {

class ErrorImpl final : public ado::Error {
  public:
    explicit ErrorImpl(Diagnostic d) : d_(std::move(d)) {}
    std::int32_t Number() override { return d_.number; }
    std::string Source() override { return d_.source; }
    std::string Description() override { return d_.description; }
    std::int32_t NativeError() override { return d_.native_error; }
    std::string SQLState() override { return d_.sql_state; }

  private:
    Diagnostic d_;
};

class ErrorsImpl final : public ado::Errors {
  public:
    std::int32_t Count() override { return static_cast<std::int32_t>(items_.size()); }
    Ref<ado::Error> Item(const Variant& index) override;
    void Clear() override { items_.clear(); }

    void Replace(const std::vector<Diagnostic>& records);
    void Append(const std::vector<Diagnostic>& records);

  private:
    std::vector<Ref<ErrorImpl>> items_;
};

}  // namespace korado::dataaccess
