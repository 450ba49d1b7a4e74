#include "korado/errors/clsErrorHandler.h"

#include "korado/platform/companions.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/registry.h"

namespace korado {

clsErrorHandler::clsErrorHandler() {
    m_ErrorComponent = CreateObject(companions::kErrorComponent);
    CallMethod(Variant(m_ErrorComponent), "Constructor", kLibraryName, static_cast<std::int16_t>(kVersionMajor),
               static_cast<std::int16_t>(kVersionMinor), static_cast<std::int16_t>(kVersionRevision));
}

void clsErrorHandler::Alert(const std::string& Message, const Variant& Title) {
    CallMethod(Variant(m_ErrorComponent), "Alert", Message, Title);
}

void clsErrorHandler::LogEvent(const std::string& Message) {
    CallMethod(Variant(m_ErrorComponent), "LogEvent", Message);
}

bool clsErrorHandler::DisplayAlerts() { return CBool(GetProperty(Variant(m_ErrorComponent), "DisplayAlerts")); }

void clsErrorHandler::SetDisplayAlerts(bool value) { LetProperty(Variant(m_ErrorComponent), "DisplayAlerts", value); }

void clsErrorHandler::ErrorMessage(const std::string& Module, const std::string& Routine,
                                   const Ref<ErrObject>& VBError, std::int32_t ErrorLine,
                                   const Variant& DebugMessage) {
    // The component gets the caller's object itself, in an argument slot of its own: it may read or clear
    // that object, but an object it puts into the slot in its place goes no further than this call.
    Variant args[] = {Module, Routine, Variant(Ref<Dispatch>(VBError)), ErrorLine, DebugMessage};
    korado::Invoke(Variant(m_ErrorComponent), "ErrorMessage", CallType::Method, args);
}

const MemberTable* clsErrorHandler::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsErrorHandler>()
                                     .Method<&clsErrorHandler::Alert>("Alert", {Variant::Missing()})
                                     .Method<&clsErrorHandler::LogEvent>("LogEvent")
                                     .Method<&clsErrorHandler::Destructor>("Destructor")
                                     .Get<&clsErrorHandler::DisplayAlerts>("DisplayAlerts")
                                     .Let<&clsErrorHandler::SetDisplayAlerts>("DisplayAlerts")
                                     .Method<&clsErrorHandler::ErrorMessage>("ErrorMessage", {Variant::Missing()})
                                     .Build();
    return &t;
}

clsErrorHandler& ErrorHandler() {
    // A failed creation leaves the slot empty, so the next failure tries again.
    if (!g_ErrorHandler) g_ErrorHandler = MakeRef<clsErrorHandler>();
    return *g_ErrorHandler;
}

}  // namespace korado
