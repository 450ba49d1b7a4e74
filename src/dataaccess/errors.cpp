#include "dataaccess/errors.h"

#include "dataaccess/platform_error.h"
#include "korado/runtime/convert.h"

namespace korado::dataaccess {

Ref<ado::Error> ErrorsImpl::Item(const Variant& index) {
    std::int64_t i = -1;
    try {
        i = CLngLng(index);
    } catch (const korado::Error&) {
        RaiseAdo(ado::adErrItemNotFound, "ADODB.Errors");
    }
    if (i < 0 || i >= static_cast<std::int64_t>(items_.size()))
        RaiseAdo(ado::adErrItemNotFound, "ADODB.Errors");
    return Ref<ado::Error>(items_[static_cast<std::size_t>(i)].get());
}

void ErrorsImpl::Replace(const std::vector<Diagnostic>& records) {
    items_.clear();
    Append(records);
}

void ErrorsImpl::Append(const std::vector<Diagnostic>& records) {
    for (const Diagnostic& d : records) items_.push_back(MakeRef<ErrorImpl>(d));
}

}  // namespace korado::dataaccess
