// The library's one link to the error component ("korError.clsError"): every member is forwarded to the
// component by name. Created on first use by HandleError and kept in g_ErrorHandler. Not guarded: the
// component's failures reach the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "korado/runtime/dispatch.h"
#include "korado/runtime/err_object.h"

namespace korado {

class KORADO_EXPORT clsErrorHandler : public Dispatch {
public:
    // Creates the component by ProgID and calls its Constructor("korADO", 2, 4, 1). Raises 429 (naming the
    // ProgID) when the component is not registered.
    clsErrorHandler();

    void Alert(const std::string& Message, const Variant& Title = Variant::Missing());
    void LogEvent(const std::string& Message);
    void Destructor() {}
    bool DisplayAlerts();
    void SetDisplayAlerts(bool value);
    void ErrorMessage(const std::string& Module, const std::string& Routine, const Ref<ErrObject>& VBError,
                      std::int32_t ErrorLine, const Variant& DebugMessage = Variant::Missing());

    const Ref<Dispatch>& Component() const noexcept { return m_ErrorComponent; }
    std::string_view ClassName() const noexcept override { return "clsErrorHandler"; }

protected:
    const MemberTable* Members() const noexcept override;

private:
    Ref<Dispatch> m_ErrorComponent;
};

// The one instance, created on first use.
KORADO_EXPORT clsErrorHandler& ErrorHandler();

}  // namespace korado
