// ResourceGate: what a load reads besides its document. Each attack is a real load (file, memory
// and streaming forms) run in a child process with a time and memory bound: nothing it was not
// allowed to read shows in the document or the records, nothing blocks, nothing grows unbounded.
#include "TestSupport.h"

#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace kelxml_test;

namespace {

constexpr const char* kSecret = "CANARY-7f3a";

enum Form { kFile, kMemory, kStream };

struct Outcome {
    std::string text;     // the document's information, or what the stream counted
    std::string records;  // every record
};

// Loads (or streams) document in form with options; the result and records, as text.
Outcome LoadIn(Form form, const std::string& document, const XML::sLoadOptions& options, const XML::sLimits& limits) {
    XML::CKelXML doc;
    doc.SetLimits(limits);
    Outcome out;
    if (form == kMemory) {
        doc.Load(static_cast<const void*>(document.data()), static_cast<unsigned int>(document.size()), options);
    } else if (form == kFile) {
        doc.Load(document.c_str(), options);
    } else {
        unsigned long count = 0;
        doc.GetNbElementsInFile(document.c_str(), options, "*", count);
        out.text = std::to_string(count);
    }
    if (doc.GetDocument()) out.text = InformationOf(doc.GetDocument(), false);
    out.records = Dump(doc);
    return out;
}

class ResourceGateTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(m_outside.File("secret.txt"), kSecret);
        WriteFile(m_dir.File("inside.ent"), "inside-text");
        ASSERT_EQ(::symlink(m_outside.File("secret.txt").c_str(), m_dir.File("link.ent").c_str()), 0);
        ASSERT_EQ(::mkfifo(m_dir.File("fifo").c_str(), 0600), 0);
        WriteFile(m_dir.File("big.ent"), std::string(3 << 20, 'x'));
    }
    // Writes text as the document file and returns the argument of the form: the file's name,
    // or the text itself for memory.
    std::string Document(Form form, const std::string& text) {
        WriteFile(m_dir.File("doc.xml"), text);
        return form == kMemory ? text : m_dir.File("doc.xml");
    }
    TempDir m_dir, m_outside;
};

// Every attack, in the file, memory and streaming forms, each within 256 MB more than the test
// process has (and a time that only a blocked load reaches): the secret never shows, every refusal leaves a record.
TEST_F(ResourceGateTest, AttacksReadNothingAndNeverBlock) {
    const std::string secret = m_outside.File("secret.txt");
    struct Case {
        const char* name;
        std::string text;  // "{D}" stands for the document's folder
        XML::E_LOAD_MODE mode;
        XML::E_RESOURCE_ACCESS access;
        const char* recordHas;  // a record holding this text is expected ("" none)
    };
    const std::string entityOf = "<!DOCTYPE a [<!ENTITY x SYSTEM '";
    const Case cases[] = {
        {"absolute file, well-formed mode", entityOf + secret + "'>]><a>&x;</a>", XML::E_LOAD_WELL_FORMED,
         XML::E_RESOURCES_BY_MODE, "this load reads none"},
        {"absolute file, none allowed", entityOf + secret + "'>]><a>&x;</a>", XML::E_LOAD_AUTO, XML::E_RESOURCES_NONE,
         "this load reads none"},
        {"file outside the folder", entityOf + secret + "'>]><a>&x;</a>", XML::E_LOAD_AUTO,
         XML::E_RESOURCES_DOCUMENT_TREE, "outside the document's folder"},
        {"link out of the folder", entityOf + "{D}/link.ent'>]><a>&x;</a>", XML::E_LOAD_AUTO,
         XML::E_RESOURCES_DOCUMENT_TREE, "outside the document's folder"},
        {"dot-dot out of the folder",
         entityOf + "{D}/../" + secret.substr(secret.rfind('/', secret.rfind('/') - 1) + 1) + "'>]><a>&x;</a>",
         XML::E_LOAD_AUTO, XML::E_RESOURCES_DOCUMENT_TREE, "outside the document's folder"},
        {"/proc file", entityOf + "/proc/self/environ'>]><a>&x;</a>", XML::E_LOAD_AUTO, XML::E_RESOURCES_LOCAL,
         "/proc or /sys"},
        {"FIFO as DTD", "<!DOCTYPE a SYSTEM '{D}/fifo'><a/>", XML::E_LOAD_AUTO, XML::E_RESOURCES_LOCAL, "a FIFO"},
        {"FIFO as entity", entityOf + "{D}/fifo'>]><a>&x;</a>", XML::E_LOAD_AUTO, XML::E_RESOURCES_LOCAL, "a FIFO"},
        {"FIFO as unreferenced entity", entityOf + "{D}/fifo'>]><a/>", XML::E_LOAD_VALIDATE, XML::E_RESOURCES_LOCAL,
         "no declaration found for element 'a'"},
        {"FIFO as parameter entity", "<!DOCTYPE a [<!ENTITY % p SYSTEM '{D}/fifo'> %p;]><a/>", XML::E_LOAD_AUTO,
         XML::E_RESOURCES_LOCAL, "a FIFO"},
        {"standard input as parameter entity", "<!DOCTYPE a [<!ENTITY % p SYSTEM '/dev/stdin'> %p;]><a/>",
         XML::E_LOAD_AUTO, XML::E_RESOURCES_LOCAL, "not a regular file"},
        {"endless device as DTD", "<!DOCTYPE a SYSTEM '/dev/zero'><a/>", XML::E_LOAD_VALIDATE, XML::E_RESOURCES_LOCAL,
         "a device"},
        {"a directory as DTD", "<!DOCTYPE a SYSTEM '{D}'><a/>", XML::E_LOAD_AUTO, XML::E_RESOURCES_LOCAL,
         "a directory"},
        {"external bytes past the budget",
         "<!DOCTYPE a [<!ENTITY % p1 SYSTEM '{D}/big.ent'><!ENTITY % p2 SYSTEM '{D}/big.ent'><!ENTITY x SYSTEM "
         "'{D}/big.ent'><!ENTITY y SYSTEM '{D}/fifo'>]><a>&x;</a>",
         XML::E_LOAD_AUTO, XML::E_RESOURCES_LOCAL, "limited to 1048576 bytes"},
        {"elements made by entities",
         "<!DOCTYPE r [<!ENTITY e '" +
             [] {
                 std::string tags;
                 for (int i = 0; i < 1000; ++i) tags += "<x/>";
                 return tags;
             }() +
             "'>]><r>" +
             [] {
                 std::string refs;
                 for (int i = 0; i < 12000; ++i) refs += "&e;";
                 return refs;
             }() +
             "</r>",
         XML::E_LOAD_WELL_FORMED, XML::E_RESOURCES_BY_MODE, "more than 100000 elements and attributes"},
        {"a fault per element",
         "<!DOCTYPE r [<!ELEMENT r EMPTY>]><r>" +
             [] {
                 std::string faults;
                 for (int i = 0; i < 2000; ++i) faults += "<x/>";
                 return faults;
             }() +
             "</r>",
         XML::E_LOAD_AUTO, XML::E_RESOURCES_BY_MODE, "more than 1000 warnings and errors"},
        {"distinct names",
         "<r>" +
             [] {
                 std::string names;
                 for (int i = 0; i < 6000; ++i) names += "<n" + std::to_string(i) + "/>";
                 return names;
             }() +
             "</r>",
         XML::E_LOAD_WELL_FORMED, XML::E_RESOURCES_BY_MODE, "distinct element names"},
    };
    XML::sLimits limits;
    limits.maxExternalBytes = 1 << 20;
    limits.maxDiagnostics = 1000;
    limits.maxDistinctNames = 5000;
    for (const Case& c : cases) {
        std::string text = c.text;
        for (std::size_t at; (at = text.find("{D}")) != std::string::npos;) text.replace(at, 3, m_dir.path());
        for (const Form form : {kFile, kMemory, kStream}) {
            SCOPED_TRACE(std::string(c.name) + ", form " + std::to_string(form));
            XML::sLoadOptions options;
            options.eMode = c.mode;
            options.eResources = c.access;
            if (form == kMemory) options.strBaseURI = m_dir.File("doc.xml");
            const std::string argument = Document(form, text);
            const std::string result = RunInLimitedChild(
                [&] {
                    const Outcome out = LoadIn(form, argument, options, limits);
                    if ((out.text + out.records).find(kSecret) != std::string::npos) return "read: " + out.records;
                    if (out.records.find(c.recordHas) == std::string::npos) return "no record: " + out.records;
                    return std::string("ok");
                },
                std::size_t{256} << 20, 30);
            EXPECT_EQ(result, "ok");
        }
    }
}

// What the rules allow is read: a file in the folder (through a link within it too), any file
// when local files are allowed; a memory document reads nothing relative without a base.
TEST_F(ResourceGateTest, AllowedResourcesAreRead) {
    ASSERT_EQ(::symlink("inside.ent", m_dir.File("near.ent").c_str()), 0);
    struct Case {
        const char* name;
        std::string text;
        XML::E_RESOURCE_ACCESS access;
        bool memory;
        std::string base;  // memory form only
        const char* expected;
    };
    const std::string entity = "<!DOCTYPE a [<!ENTITY x SYSTEM '";
    const Case cases[] = {
        {"relative, folder rule", entity + "inside.ent'>]><a>&x;</a>", XML::E_RESOURCES_DOCUMENT_TREE, false, "",
         "inside"},
        {"link within the folder", entity + "near.ent'>]><a>&x;</a>", XML::E_RESOURCES_DOCUMENT_TREE, false, "",
         "inside"},
        {"any local file", entity + m_outside.File("secret.txt") + "'>]><a>&x;</a>", XML::E_RESOURCES_LOCAL, false, "",
         kSecret},
        {"memory with a folder base", entity + "inside.ent'>]><a>&x;</a>", XML::E_RESOURCES_LOCAL, true,
         m_dir.path() + "/", "inside"},
        {"memory without base", entity + "inside.ent'>]><a>&x;</a>", XML::E_RESOURCES_LOCAL, true, "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XML::sLoadOptions options;
        options.eResources = c.access;
        options.strBaseURI = c.base;
        XML::CKelXML doc;
        if (c.memory)
            LoadText(doc, c.text, c.base);
        else
            doc.Load(Document(kFile, c.text).c_str(), options);
        std::string value;
        if (!c.expected) {
            EXPECT_NE(Dump(doc).find("has no base"), std::string::npos) << Dump(doc);
            continue;
        }
        ASSERT_NE(doc.GetDocument(), nullptr) << Dump(doc);
        EXPECT_TRUE(XML::CKelXML::GetValue(doc.GetDocument()->getDocumentElement(), value));
        EXPECT_EQ(value.rfind(c.expected, 0), 0u) << Dump(doc);
    }
}

// With a DTD named by the caller, the document's internal subset may declare entities but not
// elements or attributes: it cannot loosen the grammar.
TEST_F(ResourceGateTest, NamedDtdCannotBeLoosened) {
    WriteFile(m_dir.File("order.dtd"), "<!ELEMENT order (qty)><!ELEMENT qty (#PCDATA)><!ATTLIST qty unit (kg|g) 'kg'>");
    XML::sLoadOptions options;
    options.eMode = XML::E_LOAD_NAMED_GRAMMARS;
    options.strDTDFile = m_dir.File("order.dtd");
    const struct {
        const char* subset;
        bool loads;
    } cases[] = {
        {"<!ENTITY e '3'>", true},
        {"<!ATTLIST qty admin CDATA #IMPLIED>", false},
        {"<!ATTLIST qty unit CDATA #IMPLIED>", false},
        {"<!ELEMENT extra EMPTY>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subset);
        XML::CKelXML doc;
        const std::string text = std::string("<!DOCTYPE order SYSTEM 'x.dtd' [") + c.subset +
                                 "]><order><qty>3</qty></order>";
        EXPECT_EQ(doc.Load(Document(kFile, text).c_str(), options), c.loads) << Dump(doc);
        if (!c.loads) {
            EXPECT_NE(Dump(doc).find("the internal subset declares"), std::string::npos) << Dump(doc);
        }
    }
}

}  // namespace
