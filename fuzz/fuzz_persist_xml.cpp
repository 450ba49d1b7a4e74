// The XML rowset reader on arbitrary bytes: it may refuse them (E_FAIL from the persistence provider) but
// must never crash, hang, leak or raise anything else. What it reads is written again through the writer;
// that text must read back to the very same rowset, so writing it once more gives the same text.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "dataaccess/persistence.h"
#include "dataaccess/type_kinds.h"
#include "korado/platform/ado_enums.h"

namespace {

using namespace korado::dataaccess;

// Passes everything on to a writer, and notes whether the schema declares a fixed length the reader
// accepts only in an image as long as it.
class Rewriter final : public persist::RowsetSink {
  public:
    explicit Rewriter(std::ostream& out) : writer_(persist::MakeXmlWriter(out)) {}
    void Begin(const persist::Schema& schema) override {
        for (const ColumnInfo& c : schema.columns)
            if ((c.attributes & korado::ado::adFldFixed) && (IsTextType(c.type) || IsBinaryType(c.type)) &&
                c.defined_size > 8000)
                long_fixed = true;
        writer_->Begin(schema);
    }
    void Row(persist::RowKind kind, const korado::Variant* values,
             const korado::Variant* originals) override {
        writer_->Row(kind, values, originals);
    }
    void End() override {
        writer_->End();
        ended = true;
    }
    bool long_fixed = false;
    bool ended = false;

  private:
    std::unique_ptr<persist::RowsetSink> writer_;
};

// The text the image's rowset is written as; false when the reader refuses the image.
bool Rewrite(std::string_view image, std::string& text, bool& long_fixed) {
    std::ostringstream out;
    Rewriter rewriter(out);
    try {
        persist::ReadXml(image, rewriter);
    } catch (const korado::Error& e) {
        if (e.Number() != korado::hr::E_FAIL || e.Source() != persist::kPersistenceProvider ||
            e.Description() != persist::kBadXml)
            std::abort();
        return false;
    }
    if (!rewriter.ended) std::abort();
    text = out.str();
    long_fixed = rewriter.long_fixed;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view image(reinterpret_cast<const char*>(data), size);
    std::string once, twice;
    bool long_fixed = false;
    if (!Rewrite(image, once, long_fixed)) return 0;
    if (persist::DetectFormat(once) != korado::ado::adPersistXML) std::abort();
    // A long fixed length passes only in an image at least as long, which the written text may not be.
    if (!Rewrite(once, twice, long_fixed)) {
        if (long_fixed) return 0;
        std::abort();
    }
    if (twice != once) std::abort();
    return 0;
}
