// Saving the loaded 1 MB record file pretty-printed (the library's atomic Save next to the DOM
// serializer writing a temporary file, flushed and renamed as Save does), and two XPath queries
// compiled once and evaluated on the same tree, next to the same search written by hand on the
// DOM and to libxml2's XPath on its own tree; and five everyday expressions over the 20 MB record
// file, next to pugixml's and libxml2's XPath, each on its own tree.
#include "BenchSupport.h"
#include "Generator.h"

#include "XML/CKelXML.h"
#include "XML/CXPath.h"

#include <libxml/xpath.h>
#ifdef KELXML_BENCH_PUGIXML
#include <pugixml.hpp>
#endif
#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/LocalFileFormatTarget.hpp>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

using namespace xercesc;

namespace bench {
namespace {

// The 1 MB tree, loaded by the library when the case starts (not timed).
std::shared_ptr<XML::CKelXML> Loaded(const Input& in) {
    auto doc = std::make_shared<XML::CKelXML>();
    if (!doc->Load(in.path.c_str(), false)) throw std::runtime_error("cannot load " + in.path);
    return doc;
}

// Saves go to memory-backed storage when there is some: a disk would time its flushes.
std::string SavePath(const char* column) {
    return (::access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : DataDir()) + "/kelxml-bench-" + column;
}

bool RawSave(DOMDocument* doc, const std::string& path) {
    static const XMLCh ls[] = {'L', 'S', 0};
    DOMImplementation* impl = DOMImplementationRegistry::getDOMImplementation(ls);
    const std::unique_ptr<DOMLSSerializer> writer(impl->createLSSerializer());
    writer->getDomConfig()->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, true);
    const std::unique_ptr<DOMLSOutput> output(impl->createLSOutput());
    const std::string temp = path + ".part";
    {
        LocalFileFormatTarget target(temp.c_str());
        output->setByteStream(&target);
        if (!writer->write(doc, output.get())) return false;
    }
    const int fd = ::open(temp.c_str(), O_RDONLY);
    const bool flushed = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    return flushed && std::rename(temp.c_str(), path.c_str()) == 0;
}

// The integer value of an element's text (digits only), as the query compares it.
long TextNumber(const DOMNode* element) {
    const DOMNode* text = element->getFirstChild();
    long value = 0;
    for (const XMLCh* s = text ? text->getNodeValue() : nullptr; s && *s >= '0' && *s <= '9'; ++s)
        value = value * 10 + (*s - '0');
    return value;
}

// The Record elements of the tree, in document order (a pre-order walk), to test.
template <class Test>
double RawRecords(const DOMDocument* doc, Test test) {
    const XName record("Record");
    double found = 0;
    for (const DOMNode* n = doc->getDocumentElement(); n;) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE && XMLString::equals(n->getNodeName(), record) &&
            test(static_cast<const DOMElement*>(n)))
            ++found;
        if (const DOMNode* child = n->getFirstChild()) {
            n = child;
            continue;
        }
        while (n && !n->getNextSibling()) n = n->getParentNode();
        n = n ? n->getNextSibling() : nullptr;
    }
    return found;
}

struct Query {
    const char* name;
    const char* expr;
    double (*raw)(const DOMDocument* doc);
};
const Query kQueries[] = {
    {"xpath_by_id_1MB", "//Record[@id='123']",
     [](const DOMDocument* doc) {
         const XName id("id"), wanted("123");
         return RawRecords(doc, [&](const DOMElement* e) { return XMLString::equals(e->getAttribute(id), wanted); });
     }},
    {"xpath_count_over_1MB", "count(//Record[Count > 100])",
     [](const DOMDocument* doc) {
         const XName count("Count");
         return RawRecords(doc, [&](const DOMElement* e) {
             for (const DOMNode* n = e->getFirstChild(); n; n = n->getNextSibling())
                 if (XMLString::equals(n->getNodeName(), count)) return TextNumber(n) > 100;
             return false;
         });
     }},
};

// The query's result as a number: the count it computes, or the number of nodes it selects.
double KelResult(const XML::CXPath& xpath, const DOMNode* doc) {
    double n = 0;
    if (std::string(xpath.GetExpression()).rfind("count(", 0) == 0) return xpath.EvaluateNumber(doc, n), n;
    return static_cast<double>(xpath.SelectNodes(doc).size());
}

// Five everyday expressions over the 20 MB record file, each library on its own tree; every
// case first checks that its result is the one the others give (a node-set by its size, a
// boolean as 0 or 1).
struct Everyday {
    const char* name;
    const char* expr;
    double result;  // on the 20 MB record file
};
const Everyday kEveryday[] = {
    {"xpath_select_by_attr_20MB", "//Record[@id='123']", 1},
    {"xpath_count_where_20MB", "count(//Record[Count > 100])", NAN},
    {"xpath_sum_20MB", "sum(//Record/Count)", NAN},
    {"xpath_none_above_20MB", "not(//Record[Count > 999])", 1},
    {"xpath_select_nested_20MB", "//Record[Detail/@kind='a']/Name", NAN},
};

double KelValue(const XML::CXPath& xpath, const DOMNode* doc) {
    XML::sXPathValue v;
    if (!xpath.Evaluate(doc, v)) return NAN;
    switch (v.eType) {
    case XML::E_XPATH_NODESET: return static_cast<double>(v.vNodes.size());
    case XML::E_XPATH_BOOLEAN: return v.bValue ? 1 : 0;
    case XML::E_XPATH_NUMBER: return v.dValue;
    default: return NAN;
    }
}

double LibxmlValue(xmlXPathCompExpr* compiled, xmlXPathContext* context) {
    xmlXPathObjectPtr r = xmlXPathCompiledEval(compiled, context);
    if (!r) return NAN;
    double v = NAN;
    switch (r->type) {
    case XPATH_NODESET: v = r->nodesetval ? r->nodesetval->nodeNr : 0; break;
    case XPATH_BOOLEAN: v = r->boolval ? 1 : 0; break;
    case XPATH_NUMBER: v = r->floatval; break;
    default: break;
    }
    xmlXPathFreeObject(r);
    return v;
}

#ifdef KELXML_BENCH_PUGIXML
double PugiValue(const pugi::xpath_query& q, const pugi::xml_document& doc) {
    switch (q.return_type()) {
    case pugi::xpath_type_node_set: return static_cast<double>(q.evaluate_node_set(doc).size());
    case pugi::xpath_type_boolean: return q.evaluate_boolean(doc) ? 1 : 0;
    case pugi::xpath_type_number: return q.evaluate_number(doc);
    default: return NAN;
    }
}
#endif

// The result every library must give: libxml2's, computed once per expression.
double Expected(const Everyday& q, const Input& in) {
    static std::map<std::string, double> known;
    const auto it = known.find(q.expr);
    if (it != known.end()) return it->second;
    auto tree = std::shared_ptr<xmlDoc>(xmlReadFile(in.path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE),
                                        xmlFreeDoc);
    auto compiled = std::shared_ptr<xmlXPathCompExpr>(xmlXPathCompile(BAD_CAST q.expr), xmlXPathFreeCompExpr);
    auto context = std::shared_ptr<xmlXPathContext>(xmlXPathNewContext(tree.get()), xmlXPathFreeContext);
    const double v = LibxmlValue(compiled.get(), context.get());
    if (!std::isnan(q.result) && v != q.result) throw std::runtime_error(std::string("libxml2 differs on ") + q.expr);
    return known[q.expr] = v;
}

void RegisterEveryday() {
    const InputOf input = []() -> const Input& { return Records(20, false); };
    for (const Everyday& q : kEveryday) {
        Add(q.name, "kel", input, [q](const Input& in) -> Op {
            auto doc = Loaded(in);
            auto xpath = std::make_shared<XML::CXPath>(q.expr);
            if (KelValue(*xpath, doc->GetDocument()) != Expected(q, in)) return [] { return false; };
            return [doc, xpath] { return !std::isnan(KelValue(*xpath, doc->GetDocument())); };
        });
#ifdef KELXML_BENCH_PUGIXML
        Add(q.name, "pugixml", input, [q](const Input& in) -> Op {
            auto doc = std::make_shared<pugi::xml_document>();
            if (!doc->load_file(in.path.c_str())) throw std::runtime_error("pugixml cannot load " + in.path);
            auto query = std::make_shared<pugi::xpath_query>(q.expr);
            if (PugiValue(*query, *doc) != Expected(q, in)) return [] { return false; };
            return [doc, query] { return !std::isnan(PugiValue(*query, *doc)); };
        });
#endif
        Add(q.name, "libxml2", input, [q](const Input& in) -> Op {
            auto tree = std::shared_ptr<xmlDoc>(xmlReadFile(in.path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE),
                                                xmlFreeDoc);
            auto compiled = std::shared_ptr<xmlXPathCompExpr>(xmlXPathCompile(BAD_CAST q.expr), xmlXPathFreeCompExpr);
            auto context = std::shared_ptr<xmlXPathContext>(xmlXPathNewContext(tree.get()), xmlXPathFreeContext);
            if (LibxmlValue(compiled.get(), context.get()) != Expected(q, in)) return [] { return false; };
            return [tree, compiled, context] { return !std::isnan(LibxmlValue(compiled.get(), context.get())); };
        });
    }
    // The first search after an edit (an element added and removed: two changes Xerces counts)
    // records the document's walk again: next to xpath_select_by_attr_20MB, the cost of the index.
    Add("xpath_after_edit_20MB", "kel", input, [](const Input& in) -> Op {
        auto doc = Loaded(in);
        auto xpath = std::make_shared<XML::CXPath>(kEveryday[0].expr);
        return [doc, xpath] {
            DOMDocument* const tree = doc->GetDocument();
            DOMElement* const root = tree->getDocumentElement();
            root->removeChild(root->appendChild(tree->createElement(u"x")))->release();
            return KelValue(*xpath, tree) == kEveryday[0].result;
        };
    });
}

}  // namespace

void RegisterEditXPath() {
    RegisterEveryday();
    const InputOf input = []() -> const Input& { return Records(1, false); };
    Add("save_pretty_1MB", "kel", input, [](const Input& in) -> Op {
        auto doc = Loaded(in);
        return [doc] { return doc->Save(SavePath("kel").c_str(), false); };
    });
    Add("save_pretty_1MB", "raw", input, [](const Input& in) -> Op {
        auto doc = Loaded(in);
        return [doc] { return RawSave(doc->GetDocument(), SavePath("raw")); };
    });
    for (const Query& q : kQueries) {
        Add(q.name, "kel", input, [q](const Input& in) -> Op {
            auto doc = Loaded(in);
            auto xpath = std::make_shared<XML::CXPath>(q.expr);
            if (KelResult(*xpath, doc->GetDocument()) != q.raw(doc->GetDocument())) return [] { return false; };
            return [doc, xpath] { return KelResult(*xpath, doc->GetDocument()) > 0; };
        });
        Add(q.name, "raw", input, [q](const Input& in) -> Op {
            auto doc = Loaded(in);
            return [doc, q] { return q.raw(doc->GetDocument()) > 0; };
        });
        Add(q.name, "libxml2", input, [q](const Input& in) -> Op {
            auto tree = std::shared_ptr<xmlDoc>(xmlReadFile(in.path.c_str(), nullptr, XML_PARSE_NONET), xmlFreeDoc);
            auto compiled = std::shared_ptr<xmlXPathCompExpr>(xmlXPathCompile(BAD_CAST q.expr), xmlXPathFreeCompExpr);
            auto context = std::shared_ptr<xmlXPathContext>(xmlXPathNewContext(tree.get()), xmlXPathFreeContext);
            return [tree, compiled, context] {
                xmlXPathObjectPtr result = xmlXPathCompiledEval(compiled.get(), context.get());
                xmlXPathFreeObject(result);
                return result != nullptr;
            };
        });
    }
}

}  // namespace bench
