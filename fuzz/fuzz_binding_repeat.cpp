// Binding the same statement again with the same bind variables: what the first binding kept (each name's
// variable, each placeholder's position, each parameter) must give exactly what a fresh binding gives.
//
// Input: the first byte picks up to three names (two bits each: how many bytes of the input each takes,
// 0 to 3), the names' bytes follow, the rest is the SQL text. Neither needs to be valid UTF-8.
//
// Checked: two bindings on new commands rewrite the text alike and append the same parameters (names,
// types, directions, sizes, values) in the same order; the second one's command, bound again in place with
// other values, reads as one bound anew with them; a third run on another copy of the text, after a
// variable was declared again, still matches a run on a fresh collection.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "korado/connection/clsADO.h"
#include "korado/parameters/clsBindVariables.h"
#include "korado/platform/adodb.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/collection.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"

namespace {

using namespace korado;

void Check(bool ok) {
    if (!ok) std::abort();
}

struct Outcome {
    std::string sql;
    std::vector<std::string> parameters;  // one line per appended parameter
    bool operator==(const Outcome&) const = default;
};

Outcome Describe(const Ref<ado::Command>& command, std::string sql) {
    Outcome out{std::move(sql), {}};
    const Ref<ado::Parameters> appended = command->Parameters();
    for (std::int32_t i = 0; i < appended->Count(); ++i) {
        Ref<ado::Parameter> p = appended->Item(Variant(i));
        out.parameters.push_back(p->Name() + "|" + std::to_string(p->Type()) + "|" +
                                 std::to_string(p->Direction()) + "|" + std::to_string(p->Size()) + "|" +
                                 (p->Value().IsNull() ? std::string("<null>") : CStr(p->Value())));
    }
    return out;
}

Outcome Bind(clsBindVariables& variables, const Ref<Collection>& names, const std::string& text,
             Ref<ado::Command>* made = nullptr) {
    std::string sql = text;
    Ref<ado::Command> command = CreateObjectAs<ado::Command>("ADODB.Command");
    Ref<Collection> list = names;
    variables.AddParametersToCommand(command, list, sql);
    if (made) *made = command;
    return Describe(command, sql);
}

Ref<clsBindVariables> Declare(const Ref<clsADO>& ado, const std::vector<std::string>& names) {
    auto variables = MakeRef<clsBindVariables>();
    variables->Constructor(ado);
    std::int32_t n = 0;
    for (const std::string& name : names) {
        Ref<clsParameter> p = variables->Add(name);
        if (!p) continue;
        p->SetDataType(n % 2 ? korTypeNumber : korTypeVarchar2);
        p->SetValue(n % 2 ? Variant(n + 0.5) : Variant("v" + std::to_string(n)));
        ++n;
    }
    return variables;
}

}  // namespace

// A Null value fails its size on purpose, once in most inputs: that goes to the error log, which must not
// be the user's own, nor a file written millions of times. Without a state or home folder the log is stderr
// only (which the campaign closes for this target).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    unsetenv("XDG_STATE_HOME");
    setenv("HOME", "", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::vector<std::string> names;
    std::size_t at = 1;
    for (int k = 0; k < 3; ++k) {
        const std::size_t length = std::min<std::size_t>((data[0] >> (2 * k)) & 3, size - at);
        if (length == 0) continue;
        names.emplace_back(reinterpret_cast<const char*>(data + at), length);
        at += length;
    }
    const std::string text(reinterpret_cast<const char*>(data + at), size - at);

    {
        auto ado = MakeRef<clsADO>();
        ado->Constructor(nullptr, true, 30, korParamIn, korTypeVarchar2, 10, 100);
        Ref<Collection> list = MakeRef<Collection>();
        for (const std::string& name : names) list->Add(Variant(name));

        Ref<clsBindVariables> variables = Declare(ado, names);
        const Outcome first = Bind(*variables, list, text);
        Ref<ado::Command> kept;
        const Outcome second = Bind(*variables, list, text, &kept);
        Check(first == second);

        // The values changed, the second run's command bound again in place (where it can be): it must read
        // as a command bound anew.
        std::int32_t n = 0;
        for (const std::string& name : names) {
            if (Ref<clsParameter> p = variables->Item(Variant(name)))
                p->SetValue(n++ % 2 ? Variant("w" + name) : Variant::Null());
        }
        std::string sql = text;
        if (variables->BindInPlace(*kept, list, sql))
            Check(Describe(kept, sql) == Bind(*variables, list, text));

        // A variable declared again is a new object: the next run finds it, as a fresh collection does.
        if (!names.empty() && variables->Exists(Variant(names[0]))) {
            variables->Delete(Variant(names[0]));
            Ref<clsParameter> again = variables->Add(names[0]);
            if (again) again->SetValue(Variant("again"));
            Ref<clsBindVariables> fresh = Declare(ado, names);
            if (Ref<clsParameter> p = fresh->Item(Variant(names[0]))) {
                p->SetDataType(korTypeVarchar2);
                p->SetValue(Variant("again"));
            }
            const Outcome reused = Bind(*variables, list, text);
            const Outcome scanned = Bind(*fresh, list, text);
            Check(reused.sql == scanned.sql);
            Check(reused.parameters.size() == scanned.parameters.size());
            fresh->Destructor();
        }
        variables->Destructor();
        ado->Destructor();
    }
    ReleaseGlobals();
    return 0;
}
