// Validating 1,000 small documents (1 KB configurations, each a little different) against one
// XML Schema that is parsed once and kept: the library without a tree (Validate) and
// with one (Load), in the named-grammar mode, next to a raw SAX2 handler validating against the
// same grammar loaded once into a grammar pool. And one document naming a set of schemas
// (schemaLocation), each importing one large shared schema, read and compiled at every parse:
// Validate against a raw SAX2 handler loading the schemas as the document names them.
#include "BenchSupport.h"
#include "Generator.h"

#include "XML/CKelXML.h"

#include <xercesc/framework/XMLGrammarPoolImpl.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/validators/common/Grammar.hpp>

#include <string>
#include <vector>

using namespace xercesc;

namespace bench {
namespace {

const char kConfigSchema[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:simpleType name="port">
    <xs:restriction base="xs:int"><xs:minInclusive value="1"/><xs:maxInclusive value="65535"/></xs:restriction>
  </xs:simpleType>
  <xs:element name="Config">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="Service">
          <xs:complexType>
            <xs:attribute name="name" type="xs:NCName" use="required"/>
            <xs:attribute name="host" type="xs:string" use="required"/>
            <xs:attribute name="port" type="port" use="required"/>
            <xs:attribute name="timeout" type="xs:decimal"/>
            <xs:attribute name="secure" type="xs:boolean" default="false"/>
          </xs:complexType>
        </xs:element>
        <xs:element name="Name" type="xs:string"/>
        <xs:element name="Port" type="port"/>
        <xs:element name="Enabled" type="xs:boolean"/>
        <xs:element name="Limits">
          <xs:complexType>
            <xs:attribute name="connections" type="xs:nonNegativeInteger"/>
            <xs:attribute name="mask" type="xs:string"/>
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

constexpr int kDocuments = 1000;

struct Small : Input {
    std::string schema = EnsureFile("config.xsd", kConfigSchema);
    std::vector<std::string> files;
};

const Small& Documents() {
    static const Small small = [] {
        Small s;
        s.records = kDocuments;
        for (int i = 0; i < kDocuments; ++i) {
            const std::string text = MakeConfig(kSeed + static_cast<std::uint64_t>(i));
            s.files.push_back(EnsureFile("config-" + std::to_string(i) + ".xml", text));
            s.bytes += text.size();
        }
        return s;
    }();
    return small;
}

XML::sLoadOptions Named() {
    XML::sLoadOptions options;
    options.eMode = XML::E_LOAD_NAMED_GRAMMARS;
    options.vSchemas.push_back({"", Documents().schema});
    return options;
}

struct SaxValidator {
    // named: against the configuration schema loaded once; else each document's own schema.
    explicit SaxValidator(bool named = true) {
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
        reader->setFeature(XMLUni::fgSAX2CoreValidation, true);
        reader->setFeature(XMLUni::fgXercesDynamic, false);
        reader->setFeature(XMLUni::fgXercesSchema, true);
        reader->setFeature(XMLUni::fgXercesSchemaFullChecking, true);
        reader->setFeature(XMLUni::fgXercesLoadSchema, !named);
        reader->setFeature(XMLUni::fgXercesUseCachedGrammarInParse, named);
        reader->setProperty(XMLUni::fgXercesSecurityManager, &security);
        reader->setErrorHandler(&errors);
        if (named) reader->loadGrammar(Documents().schema.c_str(), Grammar::SchemaGrammarType, true);
    }
    struct Errors : DefaultHandler {
        void warning(const SAXParseException&) override { ++count; }
        void error(const SAXParseException&) override { ++count; }
        void fatalError(const SAXParseException&) override { ++count; }
        int count = 0;
    } errors;
    SecurityManager security;
    XMLGrammarPoolImpl pool{XMLPlatformUtils::fgMemoryManager};
    std::unique_ptr<SAX2XMLReader> reader{XMLReaderFactory::createXMLReader(XMLPlatformUtils::fgMemoryManager, &pool)};
};

// A document of 4,000 elements, each a value of an enumeration of 4,000 codes its schema declares:
// what charging each value's comparisons costs against the validator's own search.
constexpr int kCodes = 4000;

const Input& Enumerated() {
    static const Input input = [] {
        std::string schema =
            "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:simpleType name='code'>"
            "<xs:restriction base='xs:token'>";
        std::string document =
            "<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
            "xsi:noNamespaceSchemaLocation='codes.xsd'>";
        for (int i = 0; i < kCodes; ++i) {
            schema += "<xs:enumeration value='c" + std::to_string(i) + "'/>";
            document += "<e>c" + std::to_string((i * 7919) % kCodes) + "</e>";
        }
        schema +=
            "</xs:restriction></xs:simpleType><xs:element name='r'><xs:complexType><xs:sequence>"
            "<xs:element name='e' type='code' maxOccurs='unbounded'/></xs:sequence></xs:complexType>"
            "</xs:element></xs:schema>";
        document += "</r>";
        EnsureFile("codes.xsd", schema);
        Input in;
        in.path = EnsureFile("codes.xml", document);
        in.records = kCodes;
        in.bytes = document.size();
        return in;
    }();
    return input;
}

// The same operation on each of the documents; false at the first that fails.
template <class One>
Op EachDocument(One one) {
    return [one]() mutable {
        for (const std::string& file : Documents().files)
            if (!one(file.c_str())) return false;
        return true;
    };
}

// --- A schema set the document names ----------------------------------------------------------
constexpr int kParts = 24;    // schemas the document names, each importing the shared one
constexpr int kShared = 360;  // complex types of the shared schema (about 200 KB)
constexpr int kElements = 8;  // elements in each type's sequence

std::string SharedSchema() {
    std::string s = R"(<?xml version="1.0" encoding="UTF-8"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:c="urn:kel:common" targetNamespace="urn:kel:common">
  <xs:simpleType name="code"><xs:restriction base="xs:string"><xs:pattern value="[A-Z]{2}-[0-9]{1,6}"/></xs:restriction></xs:simpleType>
)";
    for (int t = 0; t < kShared; ++t) {
        const std::string n = std::to_string(t);
        s += "  <xs:complexType name=\"T" + n + "\">\n    <xs:sequence>\n";
        for (int e = 0; e < kElements; ++e)
            s += "      <xs:element name=\"e" + std::to_string(e) + "\" type=\"" +
                 (e % 3 == 0   ? "c:code"
                  : e % 3 == 1 ? "xs:string"
                               : "xs:int") +
                 "\" minOccurs=\"0\"/>\n";
        s += "    </xs:sequence>\n    <xs:attribute name=\"id\" type=\"xs:ID\"/>\n"
             "    <xs:attribute name=\"weight\" type=\"xs:decimal\"/>\n  </xs:complexType>\n";
    }
    return s + "</xs:schema>\n";
}

std::string PartSchema(int k) {
    const std::string n = std::to_string(k);
    std::string s = R"(<?xml version="1.0" encoding="UTF-8"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:c="urn:kel:common" targetNamespace="urn:kel:part)" +
                    n + R"(" elementFormDefault="qualified">
  <xs:import namespace="urn:kel:common" schemaLocation="common.xsd"/>
  <xs:element name="Item" type="c:T)" +
                    std::to_string(k * 7 % kShared) + R"("/>
)";
    if (k == 0)
        s += R"(  <xs:element name="Set"><xs:complexType><xs:sequence>
    <xs:any namespace="##other" processContents="strict" maxOccurs="unbounded"/>
  </xs:sequence></xs:complexType></xs:element>
)";
    return s + "</xs:schema>\n";
}

struct NamedSet : Input {};

const NamedSet& SchemaSet() {
    static const NamedSet set = [] {
        NamedSet s;
        EnsureFile("common.xsd", SharedSchema());
        std::string locations, items;
        for (int k = 0; k < kParts; ++k) {
            const std::string n = std::to_string(k);
            EnsureFile("part" + n + ".xsd", PartSchema(k));
            locations += (k ? " urn:kel:part" : "urn:kel:part") + n + " part" + n + ".xsd";
            if (k == 0) continue;
            items += "  <p" + n + ":Item xmlns:p" + n + "=\"urn:kel:part" + n + "\" id=\"i" + n + "\" weight=\"1.5\">";
            items += "<e0>AB-" + n + "</e0><e1>text " + n + "</e1><e2>" + n + "</e2></p" + n + ":Item>\n";
        }
        const std::string text =
            "<?xml version=\"1.0\"?>\n<p0:Set xmlns:p0=\"urn:kel:part0\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:schemaLocation=\"" +
            locations + "\">\n" + items + "</p0:Set>\n";
        s.path = EnsureFile("named-set.xml", text);
        s.records = 1;
        s.bytes = text.size();
        return s;
    }();
    return set;
}

// A SAX2 reader with the load's settings that reads the schemas the document names at each parse.
struct SaxLoader {
    SaxLoader() {
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
        reader->setFeature(XMLUni::fgSAX2CoreValidation, true);
        reader->setFeature(XMLUni::fgXercesDynamic, false);
        reader->setFeature(XMLUni::fgXercesSchema, true);
        reader->setFeature(XMLUni::fgXercesSchemaFullChecking, true);
        reader->setProperty(XMLUni::fgXercesSecurityManager, &security);
        reader->setErrorHandler(&errors);
    }
    SaxValidator::Errors errors;
    SecurityManager security;
    std::unique_ptr<SAX2XMLReader> reader{XMLReaderFactory::createXMLReader()};
};

}  // namespace

void RegisterValidate() {
    const InputOf input = []() -> const Input& { return Documents(); };
    Add("validate_1000_small", "kel", input, [](const Input&) -> Op {
        auto doc = std::make_shared<XML::CKelXML>();
        return EachDocument([doc, options = Named()](const char* file) { return doc->Validate(file, options); });
    });
    Add("validate_1000_small", "kel_load", input, [](const Input&) -> Op {
        auto doc = std::make_shared<XML::CKelXML>();
        return EachDocument([doc, options = Named()](const char* file) { return doc->Load(file, options); });
    });
    Add("validate_enumeration_4000", "kel", Enumerated, [](const Input& in) -> Op {
        auto doc = std::make_shared<XML::CKelXML>();
        return [doc, file = in.path] { return doc->Validate(file.c_str(), XML::sLoadOptions{}); };
    });
    Add("validate_enumeration_4000", "raw_sax", Enumerated, [](const Input& in) -> Op {
        auto sax = std::make_shared<SaxValidator>(false);
        return [sax, file = in.path] {
            sax->errors.count = 0;
            sax->reader->parse(file.c_str());
            return sax->errors.count == 0;
        };
    });
    Add("validate_1000_small", "raw_sax", input, [](const Input&) -> Op {
        auto sax = std::make_shared<SaxValidator>();
        return EachDocument([sax](const char* file) {
            sax->errors.count = 0;
            sax->reader->parse(file);
            return sax->errors.count == 0;
        });
    });

    const InputOf named = []() -> const Input& { return SchemaSet(); };
    Add("validate_named_schemas", "kel", named, [](const Input& in) -> Op {
        auto doc = std::make_shared<XML::CKelXML>();
        return [doc, path = in.path] { return doc->Validate(path.c_str(), XML::sLoadOptions{XML::E_LOAD_VALIDATE}); };
    });
    Add("validate_named_schemas", "raw_sax", named, [](const Input& in) -> Op {
        auto sax = std::make_shared<SaxLoader>();
        return [sax, path = in.path] {
            sax->errors.count = 0;
            sax->reader->parse(path.c_str());
            return sax->errors.count == 0;
        };
    });
}

}  // namespace bench
