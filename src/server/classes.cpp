// The library's creatable classes: "korADO.<class>" with the class identifiers hosts have always used.
#include "korado/connection/clsADO.h"
#include "korado/dictionary/clsDictionary.h"
#include "korado/errors/clsADOError.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/parameters/clsParameter.h"
#include "korado/parameters/clsSubstVariables.h"
#include "korado/resultsets/clsDynasetADO.h"
#include "korado/resultsets/clsFieldADO.h"
#include "korado/resultsets/clsFieldsADO.h"
#include "korado/runtime/collection.h"
#include "korado/runtime/registry.h"

namespace korado {
namespace {

template <class T>
ClassFactory Factory() {
    return [] { return Ref<Dispatch>(MakeRef<T>()); };
}

const ClassRegistrar kClasses[] = {
    {"korADO.clsADO", "EA602240-4E0C-48B2-BAD9-EF1E8E3D1117", Factory<clsADO>()},
    {"korADO.clsADOError", "0BC05768-759D-49BE-A461-8B6B6D7518E5", Factory<clsADOError>()},
    {"korADO.clsDynasetADO", "9F3C59D5-44DE-4AC6-A372-437399B34AA2", Factory<clsDynasetADO>()},
    {"korADO.clsFieldADO", "35683891-2AEA-4FBB-8E45-3AE63072FB9F", Factory<clsFieldADO>()},
    {"korADO.clsFieldsADO", "B5D3A402-3192-4B2A-8AB7-31A6D50BCEBC", Factory<clsFieldsADO>()},
    {"korADO.clsDictionary", "B02260D5-A811-4AA5-9263-FD60DBC252B5", Factory<clsDictionary>()},
    {"korADO.clsBindVariables", "D110DB1F-41BF-46CC-A0EE-501AC74751B8", Factory<clsBindVariables>()},
    {"korADO.clsParameter", "C7E52A24-D114-48BF-A9D5-2E61CCD90ACE", Factory<clsParameter>()},
    {"korADO.clsSubstVariables", "FFE5EFB9-1818-491E-8B18-C75C34DD085D", Factory<clsSubstVariables>()},
    // Hosts that reach the library through the C interface make the name collections they pass with this.
    {"korADO.Collection", "", Factory<Collection>()},
};

}  // namespace
}  // namespace korado
