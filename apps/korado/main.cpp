// korado: the console host. This first cut only says what the library is and what it can create.
#include <cstdio>

#include "korado/export.h"
#include "korado/runtime/registry.h"

int main() {
    std::printf("%s %s\n", korado::kLibraryName, korado::kVersionText);
    std::printf("Classes it can create:\n");
    for (const auto& reg : korado::RegisteredClasses()) {
        std::printf("  %s%s%s\n", reg.prog_id.c_str(), reg.class_id.empty() ? "" : "  {",
                    reg.class_id.empty() ? "" : (reg.class_id + "}").c_str());
    }
    return 0;
}
