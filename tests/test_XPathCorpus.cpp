// XPathCorpus: the expressions of tests/data/xpath_corpus.txt (every axis, predicates, functions,
// unions, numbers, strings) evaluated over the documents of the conformance suite by this library
// and by libxml2's XPath, loading the same bytes into both; counts, string values and scalar
// results must agree, except where tests/data/xpath_differences.txt lists the difference and why.
#include "CorpusSupport.h"
#include "TestSupport.h"

#include <XML/CXPath.h>

#include <fstream>
#include <iostream>
#include <set>

#ifdef KELXML_HAVE_LIBXML2
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <xercesc/dom/DOM.hpp>
#endif

using namespace kelxml_test;

namespace {

#ifdef KELXML_HAVE_LIBXML2

std::vector<std::string> Lines(const char* name) {
    std::ifstream in(std::string(KELXML_TEST_DATA) + "/" + name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    return lines;
}

// A result written the same way for both: "N count|value|value...", "S ...", "D ...", "B ...".
std::string Ours(const xercesc::DOMDocument* doc, const std::string& expr) {
    static const XML::CXPath kStringValue("string(.)");
    XML::sXPathValue v;
    if (!XML::CXPath(expr).Evaluate(doc, v)) return "error";
    std::string out = std::string(v.eType == XML::E_XPATH_NUMBER ? "D " : v.eType == XML::E_XPATH_STRING ? "S " : "B ");
    if (v.eType == XML::E_XPATH_NODESET) {
        out = "N " + std::to_string(v.vNodes.size());
        for (const xercesc::DOMNode* n : v.vNodes) {
            std::string s;
            kStringValue.EvaluateString(n, s);
            out += "|" + s;
        }
        return out;
    }
    return out + (v.eType == XML::E_XPATH_NUMBER   ? XML::CXPath::NumberText(v.dValue)
                  : v.eType == XML::E_XPATH_STRING ? v.strValue
                                                   : (v.bValue ? "true" : "false"));
}

std::string Theirs(xmlXPathContext* context, const std::string& expr) {
    xmlXPathObject* o = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expr.c_str()), context);
    if (!o) return "error";
    std::string out = o->type == XPATH_NUMBER   ? "D " + XML::CXPath::NumberText(o->floatval)
                      : o->type == XPATH_STRING ? "S " + std::string(reinterpret_cast<const char*>(o->stringval))
                                                : std::string("B ") + (o->boolval ? "true" : "false");
    if (o->type == XPATH_NODESET) {
        const int count = o->nodesetval ? o->nodesetval->nodeNr : 0;
        out = "N " + std::to_string(count);
        for (int i = 0; i < count; ++i) {
            xmlChar* s = xmlXPathCastNodeToString(o->nodesetval->nodeTab[i]);
            out += "|" + std::string(reinterpret_cast<const char*>(s));
            xmlFree(s);
        }
    }
    xmlXPathFreeObject(o);
    return out;
}

// The expressions with name and attr put in.
std::vector<std::string> Expressions(const std::string& name, const std::string& attr) {
    static const std::vector<std::string> kLines = Lines("xpath_corpus.txt");
    std::vector<std::string> out;
    for (std::string line : kLines) {
        if (attr.empty() && line.find("{attr}") != std::string::npos) continue;
        for (const auto& [field, value] : {std::pair{"{name}", &name}, {"{attr}", &attr}})
            for (std::size_t at; (at = line.find(field)) != std::string::npos;) line.replace(at, 6, *value);
        out.push_back(line);
    }
    return out;
}

void IgnoreError(void*, xmlError*) {}
void IgnoreMessage(void*, const char*, ...) {}

TEST(XPathCorpus, AgreesWithLibxml2) {
    const ConformanceSuite& suite = Suite();
    if (!suite.folder) GTEST_SKIP() << SuiteMissing();
    ASSERT_EQ(suite.status, 0) << "could not unpack the suite";
    // "reason TEXT" starts a group of differences: test id ("*": any) TAB expression (none: any).
    std::vector<std::string> known;
    for (const std::string& line : Lines("xpath_differences.txt"))
        if (line.rfind("reason ", 0) != 0) known.push_back(line);
    xmlSetGenericErrorFunc(nullptr, IgnoreMessage);  // the parser's validity remarks are not our subject
    std::set<std::size_t> used;
    std::size_t documents = 0, compared = 0;
    std::string report;
    for (const Expected& e : suite.expected) {
        const std::string path = suite.root + "/" + e.path, bytes = ReadFile(path);
        // No declared entity or attribute default (parsers treat them differently), no external
        // subset, no XML 1.1 (libxml2 reads only 1.0), small (some expressions are quadratic in libxml2).
        bool skip = e.outcome != Outcome::ok || bytes.size() > 4000;
        for (const char* mark : {"<!ENTITY", "<!ATTLIST", "SYSTEM", "PUBLIC", "version=\"1.1\"", "version='1.1'"})
            skip = skip || bytes.find(mark) != std::string::npos;
        XML::CKelXML ours;
        XML::sLoadOptions options;
        options.eMode = XML::E_LOAD_WELL_FORMED;
        if (skip || !ours.LoadFromMemory(bytes, options)) continue;
        xmlDoc* theirs = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), path.c_str(), nullptr,
                                       XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
        // libxml2's XPath walks into the document type too: the comments and processing
        // instructions of an internal subset become nodes of its tree, never of the data model.
        for (const xmlNode* c = theirs && theirs->intSubset ? theirs->intSubset->children : nullptr; c; c = c->next)
            skip = skip || c->type == XML_COMMENT_NODE || c->type == XML_PI_NODE;
        if (!theirs || skip) {
            xmlFreeDoc(theirs);
            continue;
        }
        ++documents;
        xmlXPathContext* context = xmlXPathNewContext(theirs);
        context->error = IgnoreError;  // libxml2 would print every expression it refuses
        std::string name = "x", attr;  // the first element name without a prefix, the first attribute name
        for (xmlNode* n = xmlDocGetRootElement(theirs); n && n->type == XML_ELEMENT_NODE; n = n->children) {
            if (!n->ns) name = reinterpret_cast<const char*>(n->name);
            if (n->properties && attr.empty() && !n->properties->ns)
                attr = reinterpret_cast<const char*>(n->properties->name);
        }
        for (const std::string& expr : Expressions(name, attr)) {
            ++compared;
            const std::string a = Ours(ours.GetDocument(), expr), b = Theirs(context, expr);
            bool listed = a == b;
            for (std::size_t i = 0; i < known.size() && a != b; ++i) {
                const std::size_t tab = known[i].find('\t');
                const std::string id = known[i].substr(0, tab),
                                  what = tab == std::string::npos ? "" : known[i].substr(tab + 1);
                if ((id == "*" || id == e.id) && (what.empty() || what == expr)) {
                    used.insert(i);
                    listed = true;
                }
            }
            if (!listed) report += e.id + "\t" + expr + "\n    ours:    " + a + "\n    libxml2: " + b + "\n";
        }
        xmlXPathFreeContext(context);
        xmlFreeDoc(theirs);
    }
    EXPECT_GT(documents, 50u);
    std::cout << "[ compared ] " << compared << " expressions over " << documents << " documents\n";
    EXPECT_EQ(report, "");
    for (std::size_t i = 0; i < known.size(); ++i) EXPECT_TRUE(used.count(i)) << "no longer different: " << known[i];
}

#else

TEST(XPathCorpus, AgreesWithLibxml2) { GTEST_SKIP() << "libxml2 (Debian: libxml2-dev) was not found when building"; }

#endif

}  // namespace
