// Validated loads of the 1 KB configuration: against a schema and against a DTD that the caller
// names (grammars parsed once, kept by the object), against the same grammars named by the
// document (read again at every load), next to unvalidated and well-formed-only loads.
#include "BenchSupport.h"
#include "Generator.h"
#include "Others.h"

#include <XML/CKelXML.h>

#include <string>

namespace bench {
namespace {

// The configuration's grammar, as a schema (57 lines) and as a DTD.
const char kConfigSchema[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:simpleType name="decimal2">
    <xs:restriction base="xs:decimal">
      <xs:fractionDigits value="2"/>
    </xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="port">
    <xs:restriction base="xs:int">
      <xs:minInclusive value="1"/>
      <xs:maxInclusive value="65535"/>
    </xs:restriction>
  </xs:simpleType>
  <xs:element name="Config">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="Service">
          <xs:complexType>
            <xs:attribute name="name" type="xs:NCName" use="required"/>
            <xs:attribute name="host" type="xs:string" use="required"/>
            <xs:attribute name="port" type="port" use="required"/>
            <xs:attribute name="timeout" type="decimal2"/>
            <xs:attribute name="secure" type="xs:boolean" default="false"/>
          </xs:complexType>
        </xs:element>
        <xs:element name="Name" type="xs:string"/>
        <xs:element name="Port" type="port"/>
        <xs:element name="Ratio" type="decimal2"/>
        <xs:element name="Enabled" type="xs:boolean"/>
        <xs:element name="Limits">
          <xs:complexType>
            <xs:attribute name="connections" type="xs:nonNegativeInteger"/>
            <xs:attribute name="mask" type="xs:string"/>
            <xs:attribute name="burst" type="decimal2"/>
            <xs:attribute name="strict" type="xs:boolean"/>
          </xs:complexType>
        </xs:element>
        <xs:element name="Banner" type="xs:string"/>
        <xs:element name="Paths">
          <xs:complexType>
            <xs:sequence>
              <xs:element name="Path" maxOccurs="unbounded">
                <xs:complexType>
                  <xs:simpleContent>
                    <xs:extension base="xs:string">
                      <xs:attribute name="id" type="xs:positiveInteger" use="required"/>
                    </xs:extension>
                  </xs:simpleContent>
                </xs:complexType>
              </xs:element>
            </xs:sequence>
          </xs:complexType>
        </xs:element>
      </xs:sequence>
      <xs:attribute name="version" type="xs:int"/>
    </xs:complexType>
  </xs:element>
</xs:schema>
)";

const char kConfigDtd[] = R"(<!ELEMENT Config (Service, Name, Port, Ratio, Enabled, Limits, Banner, Paths)>
<!ATTLIST Config version CDATA #IMPLIED>
<!ELEMENT Service EMPTY>
<!ATTLIST Service name NMTOKEN #REQUIRED host CDATA #REQUIRED port CDATA #REQUIRED
                  timeout CDATA #IMPLIED secure (true|false) "false">
<!ELEMENT Name (#PCDATA)>
<!ELEMENT Port (#PCDATA)>
<!ELEMENT Ratio (#PCDATA)>
<!ELEMENT Enabled (#PCDATA)>
<!ELEMENT Limits EMPTY>
<!ATTLIST Limits connections CDATA #IMPLIED mask CDATA #IMPLIED burst CDATA #IMPLIED
                 strict (true|false) #IMPLIED>
<!ELEMENT Banner (#PCDATA)>
<!ELEMENT Paths (Path+)>
<!ELEMENT Path (#PCDATA)>
<!ATTLIST Path id CDATA #REQUIRED>
)";

// The configuration with something inserted before its root element.
std::string WithProlog(const std::string& prolog) {
    std::string text = Config().text;
    text.insert(text.find("<Config"), prolog);
    return text;
}

// The configuration naming its own grammar, which a plain load reads again every time.
std::string WithRoot(const std::string& attributes) {
    std::string text = Config().text;
    text.insert(text.find("<Config") + 7, attributes);
    return text;
}

struct Grammars {
    std::string schema = EnsureFile("config.xsd", kConfigSchema);
    std::string dtd = EnsureFile("config.dtd", kConfigDtd);
    std::string doctyped = WithProlog("<!DOCTYPE Config SYSTEM \"" + dtd + "\">\n");
    std::string schemaNamed = WithRoot(
        " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
        " xsi:noNamespaceSchemaLocation=\"" +
        schema + "\"");
};
const Grammars& Files() {
    static const Grammars grammars;
    return grammars;
}

void Loads(benchmark::State& state, const std::string& text, const XML::sLoadOptions* options) {
    XML::CKelXML doc;
    for (auto _ : state) {
        const void* const bytes = text.data();
        const auto size = static_cast<unsigned int>(text.size());
        const bool ok = options ? doc.Load(bytes, size, *options) : doc.Load(bytes, size);
        if (!ok) {
            state.SkipWithError("the load reported something");
            break;
        }
        benchmark::DoNotOptimize(doc.GetDocument());
    }
}

XML::sLoadOptions Mode(XML::E_LOAD_MODE mode) {
    XML::sLoadOptions options;
    options.eMode = mode;
    return options;
}

}  // namespace

void RegisterValidate() {
    const auto add = [](const std::string& column, std::function<void(benchmark::State&)> fn) {
        Register("validated_load_memory_1KB/" + column, std::move(fn))->Iterations(10000);
    };
    add("unvalidated", [](benchmark::State& state) { Loads(state, Config().text, nullptr); });
    add("well_formed", [](benchmark::State& state) {
        const XML::sLoadOptions options = Mode(XML::E_LOAD_WELL_FORMED);
        Loads(state, Config().text, &options);
    });
    add("xsd_named_cached", [](benchmark::State& state) {
        XML::sLoadOptions options = Mode(XML::E_LOAD_NAMED_GRAMMARS);
        options.vSchemas.push_back({"", Files().schema});
        Loads(state, Config().text, &options);
    });
    add("xsd_by_document", [](benchmark::State& state) { Loads(state, Files().schemaNamed, nullptr); });
    add("dtd_named_cached", [](benchmark::State& state) {
        XML::sLoadOptions options = Mode(XML::E_LOAD_NAMED_GRAMMARS);
        options.strDTDFile = Files().dtd;
        Loads(state, Files().doctyped, &options);
    });
    add("dtd_by_document", [](benchmark::State& state) { Loads(state, Files().doctyped, nullptr); });
}

}  // namespace bench
