// A host script object for the tests: its Breaks collection holds break definitions a test adds and
// records what the library calls on it (ResetALL, and CheckBreaks with the dynaset's row at each call).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korado/runtime/convert.h"
#include "korado/runtime/dispatch.h"

namespace korado::test {

class TestBreak final : public Dispatch {
  public:
    std::string report_element;
    std::int32_t column = -1;
    bool duplicates = false, post_break_event = false;

    std::string ReportElement() { return report_element; }
    std::int32_t Column() { return column; }
    void SetColumn(std::int32_t v) { column = v; }
    bool Duplicates() { return duplicates; }
    bool PostBreakEvent() { return post_break_event; }

  protected:
    const MemberTable* Members() const noexcept override {
        static const MemberTable t = MemberTable::Of<TestBreak>()
                                         .Get<&TestBreak::ReportElement>("ReportElement")
                                         .Get<&TestBreak::Column>("Column")
                                         .Let<&TestBreak::SetColumn>("Column")
                                         .Get<&TestBreak::Duplicates>("Duplicates")
                                         .Get<&TestBreak::PostBreakEvent>("PostBreakEvent")
                                         .Build();
        return &t;
    }
};

class TestBreaks final : public Dispatch {
  public:
    std::vector<Ref<TestBreak>> items;
    int resets = 0;
    std::vector<std::int32_t> checked_rows;  // the dynaset's Row at each CheckBreaks

    Ref<TestBreak> Add(std::string column, bool duplicates = false) {
        auto b = MakeRef<TestBreak>();
        b->report_element = std::move(column);
        b->duplicates = duplicates;
        items.push_back(b);
        return b;
    }
    void ResetALL() { ++resets; }
    void CheckBreaks(const Variant& dynaset) { checked_rows.push_back(CLng(GetProperty(dynaset, "Row"))); }
    std::int32_t Count() { return static_cast<std::int32_t>(items.size()); }
    Ref<TestBreak> Item(std::int32_t i) { return items.at(static_cast<std::size_t>(i - 1)); }

  protected:
    const MemberTable* Members() const noexcept override {
        static const MemberTable t = MemberTable::Of<TestBreaks>("Item")
                                         .Method<&TestBreaks::ResetALL>("ResetALL")
                                         .Method<&TestBreaks::CheckBreaks>("CheckBreaks")
                                         .Get<&TestBreaks::Count>("Count")
                                         .Get<&TestBreaks::Item>("Item")
                                         .Build();
        return &t;
    }
};

class TestHost final : public Dispatch {
  public:
    Ref<TestBreaks> breaks = MakeRef<TestBreaks>();
    Ref<TestBreaks> Breaks() { return breaks; }

  protected:
    const MemberTable* Members() const noexcept override {
        static const MemberTable t = MemberTable::Of<TestHost>().Get<&TestHost::Breaks>("Breaks").Build();
        return &t;
    }
};

}  // namespace korado::test
