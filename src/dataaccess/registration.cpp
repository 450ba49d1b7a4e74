// The platform's creatable classes, by their ProgIDs, and the data-link dialog component.
#include "dataaccess/catalog.h"
#include "dataaccess/command.h"
#include "dataaccess/connection.h"
#include "dataaccess/recordset.h"
#include "korado/platform/datalinks.h"
#include "korado/platform/services.h"
#include "korado/runtime/registry.h"

namespace korado::dataaccess {
namespace {

// "DataLinks": asks the host's prompt service for a connection string. A process without one (no user to
// ask) gets the answer a cancelled dialog gives.
class DataLinksImpl final : public ado::DataLinks {
  public:
    Ref<ado::Connection> PromptNew() override {
        std::shared_ptr<platform::DataLinkPromptService> service = platform::CurrentDataLinkPromptService();
        if (!service) return Ref<ado::Connection>();
        std::optional<std::string> text = service->PromptNew();
        if (!text) return Ref<ado::Connection>();
        auto connection = MakeRef<ConnectionImpl>();
        connection->SetConnectionString(*text);
        return Ref<ado::Connection>(connection.get());
    }
};

// Class identifiers of the original platform's classes, so that a host creating them by CLSID finds them.
const ClassRegistrar kConnection{"ADODB.Connection", "00000514-0000-0010-8000-00AA006D2EA4",
                                 [] { return Ref<Dispatch>(MakeRef<ConnectionImpl>()); }};
const ClassRegistrar kCommand{"ADODB.Command", "00000507-0000-0010-8000-00AA006D2EA4",
                              [] { return Ref<Dispatch>(MakeRef<CommandImpl>()); }};
const ClassRegistrar kRecordset{"ADODB.Recordset", "00000535-0000-0010-8000-00AA006D2EA4",
                                [] { return Ref<Dispatch>(MakeRef<RecordsetImpl>()); }};
const ClassRegistrar kParameter{"ADODB.Parameter", "0000050B-0000-0010-8000-00AA006D2EA4",
                                [] { return Ref<Dispatch>(MakeRef<ParameterImpl>()); }};
const ClassRegistrar kCatalog{"ADOX.Catalog", "00000602-0000-0010-8000-00AA006D2EA4",
                              [] { return Ref<Dispatch>(MakeRef<CatalogImpl>()); }};
const ClassRegistrar kTable{"ADOX.Table", "00000609-0000-0010-8000-00AA006D2EA4",
                            [] { return Ref<Dispatch>(MakeRef<TableImpl>()); }};
const ClassRegistrar kColumn{"ADOX.Column", "0000061B-0000-0010-8000-00AA006D2EA4",
                             [] { return Ref<Dispatch>(MakeRef<ColumnImpl>()); }};
const ClassRegistrar kDataLinks{"DataLinks", "2206CDB2-19C1-11D1-89E0-00C04FD7A829",
                                [] { return Ref<Dispatch>(MakeRef<DataLinksImpl>()); }};

}  // namespace
}  // namespace korado::dataaccess
