// The current error object: what the language calls Err.
//
// When an operation's guard catches a failure, it records it here (number, source, description and the
// statement number reached in the failing procedure, 0 when the procedure numbers none) before its handler
// runs; `HandleError` copies it from here and hands the error component that copy, as a late-bound object
// with the members Number, Source, Description, Erl, NativeError, SQLState and Clear, so that nothing the
// component does to it (a Clear) changes the error recorded here.
#pragma once

#include <cstdint>
#include <string>

#include "korado/export.h"
#include "korado/runtime/dispatch.h"
#include "korado/runtime/error.h"

namespace korado {

class KORADO_EXPORT ErrObject : public Dispatch {
public:
    ErrObject() = default;
    explicit ErrObject(const Error& e, std::int32_t erl = 0) { Set(e, erl); }

    std::int32_t Number() const noexcept { return number_; }
    const std::string& Source() const noexcept { return source_; }
    const std::string& Description() const noexcept { return description_; }
    std::int32_t Erl() const noexcept { return erl_; }
    std::int32_t NativeError() const noexcept { return native_error_; }
    const std::string& SQLState() const noexcept { return sql_state_; }

    void Set(const Error& e, std::int32_t erl = 0);
    void Clear() noexcept;
    // An Error with the same number, source and description (to raise it again unchanged).
    Error ToError() const;

    std::string_view ClassName() const noexcept override { return "ErrObject"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    std::int32_t number_ = 0;
    std::string source_;
    std::string description_;
    std::int32_t erl_ = 0;
    std::int32_t native_error_ = 0;
    std::string sql_state_;
};

// The process's current error object (the host's single thread has one).
KORADO_EXPORT ErrObject& Err();
KORADO_EXPORT Ref<ErrObject> ErrRef();

}  // namespace korado
