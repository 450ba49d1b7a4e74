// The library-wide references: one of each per process, plain references, the last writer winning.
//
//   g_CurrentConnection  the clsADO initialised most recently (dynasets reach the session's bind variables
//                        through it)
//   g_ADOError           the shared error object, replaced each time a clsADO is initialised
//   g_HostObject         the host's script object last handed to clsADO.Constructor or
//                        clsDynasetADO.Constructor3
//   g_ErrorHandler       the one clsErrorHandler, created on first use
//   g_About              the one About dialog, created on first use
//
// They are overwritten, never cleared, by the library; ReleaseGlobals() drops them all (a host calls it
// when it unloads the library, and tests between cases), breaking the cycles they close.
#pragma once

#include "korado/export.h"
#include "korado/runtime/dispatch.h"
#include "korado/runtime/object.h"

namespace korado {

class clsADO;
class clsADOError;
class clsErrorHandler;
namespace about {
class frmAbout;
}

extern KORADO_EXPORT Ref<clsErrorHandler> g_ErrorHandler;
extern KORADO_EXPORT Ref<Dispatch> g_HostObject;
extern KORADO_EXPORT Ref<clsADOError> g_ADOError;
extern KORADO_EXPORT Ref<clsADO> g_CurrentConnection;
extern KORADO_EXPORT Ref<about::frmAbout> g_About;

KORADO_EXPORT void ReleaseGlobals();

}  // namespace korado
