#include "korado/platform/modGlobals.h"

#include "korado/about/frmAbout.h"
#include "korado/connection/clsADO.h"
#include "korado/errors/clsADOError.h"
#include "korado/errors/clsErrorHandler.h"

namespace korado {

// Defined in this order so that, at exit, the error handler goes last: releasing a connection object may
// still report through it.
Ref<clsErrorHandler> g_ErrorHandler;
Ref<Dispatch> g_HostObject;
Ref<clsADOError> g_ADOError;
Ref<clsADO> g_CurrentConnection;
Ref<about::frmAbout> g_About;

void ReleaseGlobals() {
    // The form holds a platform connection; it goes before the connection objects do.
    g_About = nullptr;
    g_CurrentConnection = nullptr;
    g_ADOError = nullptr;
    g_HostObject = nullptr;
    g_ErrorHandler = nullptr;
}

}  // namespace korado
