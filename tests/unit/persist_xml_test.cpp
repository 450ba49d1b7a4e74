// The XML rowset format: values and schemas through writer and reader, pending changes, the format
// description's own documents, the syntax a reader must accept and the documents it must refuse.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/persist_rows.h"
#include "support/raises.h"

namespace korado::dataaccess::persist {
namespace {

using namespace shared;
using Captured = Collect;
using CapturedRow = SavedRow;

std::string Write(const Schema& schema, const std::vector<SavedRow>& rows) {
    return shared::Write(MakeXmlWriter, schema, rows);
}

Collect Read(std::string_view image) { return shared::Read(ReadXml, image); }

TEST(PersistXml, EveryTypeRoundTripsExactly) { ExpectEveryTypeRoundTrips(MakeXmlWriter, ReadXml, ado::adBinary); }

TEST(PersistXml, SchemaNamesAndBaseColumnsRoundTrip) {
    Schema schema;
    schema.updatable = true;
    schema.columns.push_back(Column("id", ado::adInteger, 4, ado::adFldFixed, 10));
    // Names a row cannot carry as attributes, a second "id", and a name the generated ones would take.
    for (const char* name : {"my col", "1st", "xmlns", "a:b", "id", "c1", "", "Größe", "x&y", "XMLdata"}) {
        ColumnInfo c = Column(name, ado::adVarWChar, 20, ado::adFldIsNullable | ado::adFldMayBeNull);
        c.base_table = "t";
        c.base_column = name;
        schema.columns.push_back(c);
    }
    std::vector<Variant> values;
    for (std::size_t i = 0; i < schema.columns.size(); ++i)
        values.push_back(i == 0 ? Variant(1) : Variant("v" + std::to_string(i)));
    const std::string text = Write(schema, {{RowKind::kUnchanged, values, {}}});
    const Captured back = Read(text);
    EXPECT_TRUE(back.schema.updatable);
    ASSERT_EQ(back.schema.columns.size(), schema.columns.size()) << text;
    for (std::size_t i = 0; i < schema.columns.size(); ++i)
        ExpectSameColumn(back.schema.columns[i], schema.columns[i]);
    ASSERT_EQ(back.rows.size(), 1u);
    EXPECT_EQ(back.rows[0].values, values) << text;
    // The platform reads what it needs by these names.
    for (const char* piece :
         {"<s:Schema id='RowsetSchema'>", "<s:ElementType name='row' content='eltOnly' rs:updatable='true'>",
          "rs:name='my col'", "<s:extends type='rs:rowbase'/>", "<rs:data>", "</xml>"})
        EXPECT_NE(text.find(piece), std::string::npos) << piece;
}

TEST(PersistXml, PendingChangesRoundTripInOrder) {
    const std::string text = ExpectPendingChangesRoundTrip(MakeXmlWriter, ReadXml);
    // An update writes the original row whole and of the changed row only what changed; consecutive
    // insertions and deletions share one element.
    EXPECT_NE(text.find("</rs:original>\n\t\t<z:row phone='(503) 552-7134'/>"), std::string::npos) << text;
    EXPECT_NE(text.find("<z:row phone=''><rs:forcenull name=''/></z:row>"), std::string::npos) << text;
    std::size_t inserts = 0, deletes = 0;
    for (std::size_t at = 0; (at = text.find("<rs:insert>", at)) != std::string::npos; ++at) ++inserts;
    for (std::size_t at = 0; (at = text.find("<rs:delete>", at)) != std::string::npos; ++at) ++deletes;
    EXPECT_EQ(std::pair(inserts, deletes), std::pair(std::size_t{2}, std::size_t{1}));
}

// The examples of the format's public description, as printed there.
TEST(PersistXml, TheDescriptionsExamplesOpenWithTheirValues) {
    const std::string shippers = R"(<xml xmlns:s="uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882"
xmlns:dt="uuid:C2F41010-65B3-11d1-A29F-00AA00C14882"
xmlns:rs="urn:schemas-microsoft-com:rowset"
xmlns:z="#RowsetSchema">
  <s:Schema id="RowsetSchema">
    <s:ElementType name="row" content="eltOnly" rs:updatable="true">
      <s:AttributeType name="ShipperID" rs:number="1"
        rs:basetable="shippers" rs:basecolumn="ShipperID"
        rs:keycolumn="true">
        <s:datatype dt:type="int" dt:maxLength="4" rs:precision="10"
          rs:fixedlength="true" rs:maybenull="false"/>
      </s:AttributeType>
      <s:AttributeType name="CompanyName" rs:number="2"
        rs:nullable="true" rs:write="true" rs:basetable="shippers"
        rs:basecolumn="CompanyName">
        <s:datatype dt:type="string" dt:maxLength="40" />
      </s:AttributeType>
      <s:AttributeType name="Phone" rs:number="3" rs:nullable="true"
        rs:write="true" rs:basetable="shippers"
        rs:basecolumn="Phone">
        <s:datatype dt:type="string" dt:maxLength="24"/>
      </s:AttributeType>
      <s:extends type="rs:rowbase"/>
    </s:ElementType>
  </s:Schema>
  <rs:data>
    <z:row ShipperID="2" CompanyName="United Package"
      Phone="(503) 555-3199"/>
  <rs:update>
    <rs:original>
      <z:row ShipperID="3" CompanyName="Federal Shipping"
        Phone="(503) 555-9931"/>
    </rs:original>
    <z:row Phone="(503) 552-7134"/>
  </rs:update>
  <rs:insert>
    <z:row ShipperID="12" CompanyName="Lightning Shipping"
      Phone="(505) 111-2222"/>
    <z:row ShipperID="13" CompanyName="Thunder Overnight"
      Phone="(505) 111-2222"/>
    <z:row ShipperID="14" CompanyName="Blue Angel Air Delivery"
      Phone="(505) 111-2222"/>
  </rs:insert>
  <rs:delete>
    <z:row ShipperID="1" CompanyName="Speedy Express" Phone="(503) 555-9831"/>
  </rs:delete>
  </rs:data>
</xml>)";
    Captured c = Read(shippers);
    EXPECT_TRUE(c.schema.updatable);
    ASSERT_EQ(c.schema.columns.size(), 3u);
    ColumnInfo id = Column("ShipperID", ado::adInteger, 4, ado::adFldFixed | ado::adFldKeyColumn, 10);
    id.base_table = "shippers", id.base_column = "ShipperID", id.key_column = true;
    ExpectSameColumn(c.schema.columns[0], id);
    ColumnInfo name = Column("CompanyName", ado::adVarWChar, 40,
                             ado::adFldIsNullable | ado::adFldUpdatable | ado::adFldMayBeNull);
    name.base_table = "shippers", name.base_column = "CompanyName";
    ExpectSameColumn(c.schema.columns[1], name);
    const Variant phone = "(505) 111-2222";
    const std::vector<std::tuple<RowKind, std::vector<Variant>, std::vector<Variant>>> want = {
        {RowKind::kUnchanged, {2, "United Package", "(503) 555-3199"}, {}},
        {RowKind::kUpdated,
         {3, "Federal Shipping", "(503) 552-7134"},
         {3, "Federal Shipping", "(503) 555-9931"}},
        {RowKind::kInserted, {12, "Lightning Shipping", phone}, {}},
        {RowKind::kInserted, {13, "Thunder Overnight", phone}, {}},
        {RowKind::kInserted, {14, "Blue Angel Air Delivery", phone}, {}},
        {RowKind::kDeleted, {1, "Speedy Express", "(503) 555-9831"}, {}},
    };
    ASSERT_EQ(c.rows.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(std::tie(c.rows[i].kind, c.rows[i].values, c.rows[i].originals),
                  std::tie(std::get<0>(want[i]), std::get<1>(want[i]), std::get<2>(want[i])))
            << i;

    // Single quotes, an attribute the reader does not know, no s:extends, numbers with a gap, dates with a
    // zone, Booleans as digits.
    const std::string sample = R"(<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'
  xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'
    xmlns:rs='urn:schemas-microsoft-com:rowset'
    xmlns:z='#RowsetSchema'>
<s:Schema id='RowsetSchema'>
  <s:ElementType name='row' content='eltOnly' rs:CommandTimeout='30'>
        <s:AttributeType name='name' rs:number='1' >
            <s:datatype dt:type='string' dt:maxLength='10'  />
        </s:AttributeType>
        <s:AttributeType name='bin' rs:number='2' >
            <s:datatype dt:type='bin.hex' dt:maxLength='8' />
        </s:AttributeType>
        <s:AttributeType name='GUID' rs:number='3'>
            <s:datatype dt:type='uuid' dt:maxLength='16' />
        </s:AttributeType>
        <s:AttributeType name='date' rs:number='4' >
            <s:datatype dt:type='dateTime' dt:maxLength='16' rs:scale='0' rs:precision='16' />
        </s:AttributeType>
        <s:AttributeType name='float' rs:number='6' >
            <s:datatype dt:type='float' dt:maxLength='8' rs:precision='17' />
        </s:AttributeType>
        <s:AttributeType name='flag' rs:number='7' >
            <s:datatype dt:type='boolean' dt:maxLength='2' />
        </s:AttributeType>
  </s:ElementType>
</s:Schema>
<rs:data>
  <z:row name='sample1' bin='00000000499602d2' GUID='{8AC68D3D-8A09-4403-8860-D0E494BBE894}'
    date='2008-01-25T13:04:00Z' float='3.1415926535897932' flag='0'/>
  <z:row name='sample2' date='2008-02-13T18:49:00Z' flag='1'/>
</rs:data>
</xml>)";
    c = Read(sample);
    ASSERT_EQ(c.schema.columns.size(), 6u);
    const std::vector<std::int32_t> types = {ado::adVarWChar,    ado::adVarBinary, ado::adGUID,
                                             ado::adDBTimeStamp, ado::adDouble,    ado::adBoolean};
    for (std::size_t i = 0; i < types.size(); ++i) EXPECT_EQ(c.schema.columns[i].type, types[i]) << i;
    ASSERT_EQ(c.rows.size(), 2u);
    const Variant null = Variant::Null();
    EXPECT_EQ(c.rows[0].values, (std::vector<Variant>{"sample1", Bytes{0, 0, 0, 0, 0x49, 0x96, 0x02, 0xd2},
                                                      "{8AC68D3D-8A09-4403-8860-D0E494BBE894}",
                                                      At(2008, 1, 25, 13, 4), 3.1415926535897932, false}));
    EXPECT_EQ(c.rows[1].values,
              (std::vector<Variant>{"sample2", null, null, At(2008, 2, 13, 18, 49), null, true}));
}

// What a reader must accept beyond what the writer writes.
TEST(PersistXml, ReadsAnyPrefixesQuotesOrderAndTheEquivalentTypeNames) {
    const std::vector<Variant> want = {7, 2.5, "it's", Bytes{0x01, 0xfe}, "extra"};
    struct Case {
        const char* what;
        std::string document;
    };
    std::vector<Case> cases = {
        {"other prefixes, the schema's namespace as the default one",
         R"(<root xmlns:t="uuid:C2F41010-65B3-11d1-A29F-00AA00C14882" xmlns:q="urn:schemas-microsoft-com:rowset"
                  xmlns:r="#RowsetSchema">
  <Schema xmlns="uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882" id="RowsetSchema">
    <ElementType name="row" content="eltOnly">
      <AttributeType name="a" q:number="1"><datatype t:type="i4"/></AttributeType>
      <AttributeType name="b" q:number="2"><datatype t:type="r8"/></AttributeType>
      <AttributeType name="c" q:number="3"><datatype t:type="char" t:maxLength="9"/></AttributeType>
      <AttributeType name="d" q:number="4"><datatype t:type="bin.base64"/></AttributeType>
      <AttributeType name="c4" q:name="e" q:number="5"><datatype t:type="string"/></AttributeType>
    </ElementType>
  </Schema>
  <q:data><r:row a="7" b="2.5" c="it&apos;s" d="Af4=" c4="extra"/></q:data>
</root>)"},
        {"attributes in another order, whitespace, unknown attributes and elements, prefixes declared late",
         "<xml>\n\n<s:Schema xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' id = 'RowsetSchema' "
         "extra='1'>\n"
         "\t<s:ElementType content='eltOnly' name='row'>\n"
         "\t\t<s:AttributeType rs:number='5' xmlns:rs='urn:schemas-microsoft-com:rowset' rs:name='e' "
         "name='E'>"
         "<s:datatype xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882' "
         "dt:type='string'/></s:AttributeType>\n"
         "\t\t<s:AttributeType name='d' rs:number='4' xmlns:rs='urn:schemas-microsoft-com:rowset'>"
         "<s:datatype dt:maxLength='2' xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882' "
         "dt:type='bin.hex'/>"
         "</s:AttributeType>\n"
         "\t\t<s:AttributeType name='b' rs:number='2' rs:unknown='x' "
         "xmlns:rs='urn:schemas-microsoft-com:rowset'>"
         "<s:datatype xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882' "
         "dt:type='float'/></s:AttributeType>\n"
         "\t\t<s:AttributeType name='a' rs:number='1' xmlns:rs='urn:schemas-microsoft-com:rowset'>"
         "<s:datatype xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882' "
         "dt:type='int'/></s:AttributeType>\n"
         "\t\t<s:AttributeType name='c' rs:number='3' xmlns:rs='urn:schemas-microsoft-com:rowset'/>\n"
         "\t\t<s:unknown/>\n"
         "\t</s:ElementType>\n</s:Schema>\n<!-- a comment -->\n"
         "<rs:data xmlns:rs='urn:schemas-microsoft-com:rowset'>\n"
         "  <rs:unknown><z:row xmlns:z='#RowsetSchema' a='99'/></rs:unknown>\n"
         "  <z:row  xmlns:z = '#Rowset&#83;chema'  E = \"extra\" zz='not a column' d='01FE'  c=\"it's\" b='  2.5 "
         "' a='7'"
         " rs:a='8'>text<child/></z:row>\n"
         "</rs:data>\n</xml>\n"},
    };
    // A file saved as UTF-16 (by a stream in Unicode) reads the same.
    std::string utf16 = "\xFF\xFE";
    for (char ch : cases[0].document) utf16 += {ch, '\0'};
    cases.push_back({"UTF-16 with its byte order mark", utf16});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Captured back = Read(c.document);
        ASSERT_EQ(back.schema.columns.size(), 5u);
        EXPECT_EQ(back.schema.columns[4].name, "e");
        ASSERT_EQ(back.rows.size(), 1u);
        EXPECT_EQ(back.rows[0].values, want);
    }
}

TEST(PersistXml, RowsReachTheStreamAsTheyComeNotAtTheEnd) {
    Schema schema;
    schema.columns = {Column("id", ado::adInteger, 4, ado::adFldFixed, 10),
                      Column("t", ado::adVarWChar, 100)};
    std::ostringstream out;
    std::unique_ptr<RowsetSink> writer = MakeXmlWriter(out);
    writer->Begin(schema);
    const Variant row[] = {1, std::string(90, 'x')};
    for (int i = 0; i < 5000; ++i) writer->Row(RowKind::kUnchanged, row, nullptr);
    const std::size_t before_end = out.str().size();
    writer->End();
    EXPECT_GT(before_end, out.str().size() - (1u << 17));
    EXPECT_EQ(Read(out.str()).rows.size(), 5000u);
}

TEST(PersistXml, MalformedAndHostileDocumentsFailCleanly) {
    Schema schema;
    schema.columns = {Column("id", ado::adInteger, 4, ado::adFldFixed, 10), Column("t", ado::adVarWChar, 10)};
    const std::string good =
        Write(schema, {{RowKind::kUnchanged, {1, "a"}, {}}, {RowKind::kInserted, {2, "b"}, {}}});
    const std::string head = good.substr(0, good.find("<rs:data>"));
    std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"not XML", "id,t\n1,a\n"},
        {"entity bomb",
         "<?xml version='1.0'?><!DOCTYPE lolz [<!ENTITY lol 'lol'><!ENTITY lol2 '&lol;&lol;&lol;&lol;'>"
         "<!ENTITY lol3 '&lol2;&lol2;&lol2;&lol2;'>]>" +
             head + "<rs:data><z:row t='&lol3;'/></rs:data></xml>"},
        {"external entity", "<!DOCTYPE x [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><xml>&e;</xml>"},
        {"no schema", "<xml xmlns:rs='urn:schemas-microsoft-com:rowset'><rs:data/></xml>"},
        {"no data", head + "</xml>"},
        {"no columns",
         "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' "
         "xmlns:rs='urn:schemas-microsoft-com:rowset'>"
         "<s:Schema id='RowsetSchema'><s:ElementType name='row'/></s:Schema><rs:data/></xml>"},
        {"undeclared prefix", head + "<rs:data><y:row id='1'/></rs:data></xml>"},
        {"unknown entity in a value", head + "<rs:data><z:row t='&nbsp;'/></rs:data></xml>"},
        {"reference beyond Unicode", head + "<rs:data><z:row t='&#x110000;'/></rs:data></xml>"},
        {"reference to a surrogate", head + "<rs:data><z:row t='&#55296;'/></rs:data></xml>"},
        {"unterminated reference", head + "<rs:data><z:row t='a &amp b'/></rs:data></xml>"},
        {"changed row without its original",
         head + "<rs:data><rs:update><z:row t='x'/></rs:update></rs:data></xml>"},
        {"huge fixed length",
         "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' "
         "xmlns:rs='urn:schemas-microsoft-com:rowset'"
         " xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882' xmlns:z='#RowsetSchema'>"
         "<s:Schema id='RowsetSchema'><s:ElementType name='row'><s:AttributeType name='t'>"
         "<s:datatype dt:type='string' dt:maxLength='2000000000' rs:fixedlength='true'/></s:AttributeType>"
         "</s:ElementType></s:Schema><rs:data><z:row t='x'/></rs:data></xml>"},
        {"a number that is none", head.substr(0, head.find("rs:number='1'")) + "rs:number='one'" +
                                      head.substr(head.find("rs:number='1'") + 13) + "<rs:data/></xml>"},
    };
    // Every cut of a good document.
    for (std::size_t cut = 1; cut < good.size() - 2; cut += 7)
        cases.emplace_back("cut at " + std::to_string(cut), good.substr(0, cut));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        Captured sink;
        std::optional<Error> e = test::RaisedError([&] { ReadXml(c.second, sink); });
        test::ExpectError(e, hr::E_FAIL, kPersistenceProvider);
        if (e) EXPECT_EQ(e->Description(), kBadXml);
    }
}

TEST(PersistXml, DetectFormatTellsTheFormatsApart) {
    using namespace std::string_view_literals;
    const std::vector<std::pair<std::string_view, std::int32_t>> cases = {
        {"\x01\x07TG!\x02\x00\x00\x01"sv, ado::adPersistADTG},
        {"<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'>", ado::adPersistXML},
        {"\xEF\xBB\xBF<?xml version='1.0'?><xml/>", ado::adPersistXML},
        {" \r\n\t<xml/>", ado::adPersistXML},
        {"\xFF\xFE<\0x\0"sv, ado::adPersistXML},
        {"\xFE\xFF\0<\0x"sv, ado::adPersistXML},
        {"", -1},
        {"   ", -1},
        {"\x01\x07TG", -1},
        {"\x02\x07TG!\x02\x00", -1},
        {"PK\x03\x04", -1},
        {"xml", -1},
    };
    for (const auto& [image, format] : cases) EXPECT_EQ(DetectFormat(image), format) << image;
}

}  // namespace
}  // namespace korado::dataaccess::persist
