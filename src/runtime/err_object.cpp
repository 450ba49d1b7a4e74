#include "korado/runtime/err_object.h"

namespace korado {

void ErrObject::Set(const Error& e, std::int32_t erl) {
    number_ = e.Number();
    source_ = e.Source();
    description_ = e.Description();
    native_error_ = e.NativeError();
    sql_state_ = e.SQLState();
    erl_ = erl;
}

void ErrObject::Clear() noexcept {
    number_ = 0;
    source_.clear();
    description_.clear();
    native_error_ = 0;
    sql_state_.clear();
    erl_ = 0;
}

Error ErrObject::ToError() const {
    Error e(number_, source_, description_);
    e.WithNative(native_error_, sql_state_);
    return e;
}

const MemberTable* ErrObject::Members() const noexcept {
    static const MemberTable kMembers = MemberTable::Of<ErrObject>("Number")
                                            .Get<&ErrObject::Number>("Number")
                                            .Get<&ErrObject::Source>("Source")
                                            .Get<&ErrObject::Description>("Description")
                                            .Get<&ErrObject::Erl>("Erl")
                                            .Get<&ErrObject::NativeError>("NativeError")
                                            .Get<&ErrObject::SQLState>("SQLState")
                                            .Method<&ErrObject::Clear>("Clear")
                                            .Build();
    return &kMembers;
}

// The object outlives every static destructor that might still report a failure.
Ref<ErrObject> ErrRef() {
    static ErrObject* current = [] {
        auto* e = new ErrObject;
        e->AddRef();
        return e;
    }();
    return Ref<ErrObject>(current);
}

ErrObject& Err() { return *ErrRef(); }

}  // namespace korado
