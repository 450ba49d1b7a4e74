// The binary persistence format's reader on arbitrary bytes: it reads or refuses with the persistence
// provider's E_FAIL, never crashes, loops or reserves what the image cannot hold. Whatever it reads is
// written again through the writer, and what the writer makes must read back.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "dataaccess/persistence.h"
#include "korado/platform/ado_enums.h"
#include "korado/runtime/error.h"

namespace {

using namespace korado::dataaccess::persist;

// Hands every call on to a writer.
struct Rewrite final : RowsetSink {
    explicit Rewrite(std::ostream& out) : writer(MakeAdtgWriter(out)) {}
    void Begin(const Schema& schema) override { writer->Begin(schema); }
    void Row(RowKind kind, const korado::Variant* values, const korado::Variant* originals) override {
        writer->Row(kind, values, originals);
    }
    void End() override { writer->End(); }
    std::unique_ptr<RowsetSink> writer;
};

// Counts what it is given.
struct Count final : RowsetSink {
    void Begin(const Schema&) override {}
    void Row(RowKind, const korado::Variant*, const korado::Variant*) override {}
    void End() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view image(reinterpret_cast<const char*>(data), size);
    std::ostringstream out;
    Rewrite rewrite(out);
    try {
        ReadAdtg(image, rewrite);
    } catch (const korado::Error& e) {
        // The reader refuses only as the provider; the writer may refuse a value out of its column's range
        // (or one too long for any file), and says so as the runtime or itself.
        if (e.Source() == kPersistenceProvider && e.Number() != korado::hr::E_FAIL) __builtin_trap();
        return 0;
    }
    Count count;
    try {
        ReadAdtg(out.str(), count);
    } catch (const korado::Error&) {
        __builtin_trap();
    }
    return 0;
}
