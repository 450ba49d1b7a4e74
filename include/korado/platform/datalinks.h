// The data-link dialog component (ProgID "DataLinks"): lets the user build a connection.
#pragma once

#include "korado/platform/adodb.h"

namespace korado::ado {

class KORADO_EXPORT DataLinks : public Dispatch {
public:
    // Asks the registered prompt service; returns a new, unopened connection carrying the connection string
    // the user built, or null when the user cancels or no prompt service is registered.
    virtual Ref<ado::Connection> PromptNew() = 0;
    std::string_view ClassName() const noexcept override { return "DataLinks"; }

protected:
    const MemberTable* Members() const noexcept override;
};

}  // namespace korado::ado
