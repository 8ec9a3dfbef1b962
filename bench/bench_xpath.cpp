// XPath on the record files (1 MB and 50 MB): typical queries compiled once and evaluated per
// iteration, next to the same work hand-written on the raw DOM and to libxml2's XPath on its
// own tree of the same file.
#include "Fixtures.h"

#include <XML/CXPath.h>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/XMLString.hpp>

#ifdef KELXML_BENCH_LIBXML2
#include <libxml/xpath.h>
#endif

using namespace xercesc;

namespace bench {

namespace {

struct Query {
    const char* name;
    const char* expr;
    // The hand-written walk: the number of nodes the query selects (or the count it computes).
    double (*raw)(const DOMDocument* doc);
};

// The integer value of an element's text, as the queries compare it (digits only).
long TextNumber(const DOMNode* element) {
    const DOMNode* text = element->getFirstChild();
    const XMLCh* s = text ? text->getNodeValue() : nullptr;
    long value = 0;
    for (; s && *s >= '0' && *s <= '9'; ++s) value = value * 10 + (*s - '0');
    return value;
}

const DOMElement* ChildNamed(const DOMNode* parent, const XMLCh* name) {
    for (const DOMNode* n = parent->getFirstChild(); n; n = n->getNextSibling())
        if (n->getNodeType() == DOMNode::ELEMENT_NODE && XMLString::equals(n->getNodeName(), name))
            return static_cast<const DOMElement*>(n);
    return nullptr;
}

double RawById(const DOMDocument* doc) {
    static const XName record("Record"), id("id"), wanted("123");
    double found = 0;
    RawElementsBelow(doc, [&](const DOMNode* n) {
        if (XMLString::equals(n->getNodeName(), record) &&
            XMLString::equals(static_cast<const DOMElement*>(n)->getAttribute(id), wanted))
            ++found;
    });
    return found;
}

double RawCountOver(const DOMDocument* doc) {
    static const XName record("Record"), count("Count");
    double found = 0;
    RawElementsBelow(doc, [&](const DOMNode* n) {
        if (!XMLString::equals(n->getNodeName(), record)) return;
        const DOMElement* c = ChildNamed(n, count);
        if (c && TextNumber(c) > 100) ++found;
    });
    return found;
}

double RawThreePredicates(const DOMDocument* doc) {
    static const XName records("Records"), record("Record"), active("active"), yes("true"), count("Count"),
        detail("Detail"), kind("kind"), a("a");
    double found = 0;
    const DOMElement* list = ChildNamed(doc->getDocumentElement(), records);
    for (const DOMNode* n = list ? list->getFirstChild() : nullptr; n; n = n->getNextSibling()) {
        if (n->getNodeType() != DOMNode::ELEMENT_NODE || !XMLString::equals(n->getNodeName(), record)) continue;
        const auto* e = static_cast<const DOMElement*>(n);
        if (!XMLString::equals(e->getAttribute(active), yes)) continue;
        const DOMElement* c = ChildNamed(e, count);
        if (!c || TextNumber(c) <= 500) continue;
        const DOMElement* d = ChildNamed(e, detail);
        if (d && XMLString::equals(d->getAttribute(kind), a)) ++found;
    }
    return found;
}

double RawLocalName(const DOMDocument* doc) {
    static const XName city("City");
    double found = 0;
    RawElementsBelow(doc, [&](const DOMNode* n) {
        if (XMLString::equals(n->getLocalName(), city)) ++found;
    });
    return found;
}

const Query kQueries[] = {
    {"by_id", "//Record[@id='123']", RawById},
    {"count_over", "count(//Record[Count > 100])", RawCountOver},
    {"three_predicates", "/Catalog/Records/Record[@active='true'][Count > 500][Detail/@kind='a']", RawThreePredicates},
    {"local_name", "//*[local-name()='City']", RawLocalName},
};

KelDoc& Records50() {
    static KelDoc* k = [] {
        auto* p = new KelDoc;  // left to the process, as the other fixtures
        XML::sLoadOptions options;
        options.eMode = XML::E_LOAD_WELL_FORMED;
        if (!p->doc.Load(Records50MB().path.c_str(), options)) std::abort();
        return p;
    }();
    return *k;
}

const DOMDocument* Tree(bool large) { return large ? Records50().doc.GetDocument() : KelRecords().doc.GetDocument(); }

// The query's result as a number: the count it computes, or the number of nodes it selects.
double KelResult(const XML::CXPath& xpath, const DOMNode* doc) {
    double n = 0;
    if (std::string(xpath.GetExpression()).rfind("count(", 0) == 0) {
        xpath.EvaluateNumber(doc, n);
        return n;
    }
    return static_cast<double>(xpath.SelectNodes(doc).size());
}

void RegisterQuery(const Query& q, bool large) {
    const std::string name = std::string("xpath_") + q.name + (large ? "_50MB" : "_1MB");
    Register(name + "/kel", [q, large](benchmark::State& state) {
        const XML::CXPath xpath(q.expr);
        const DOMDocument* doc = Tree(large);
        if (KelResult(xpath, doc) != q.raw(doc)) state.SkipWithError("the query and the walk disagree");
        for (auto _ : state) benchmark::DoNotOptimize(KelResult(xpath, doc));
    });
    Register(name + "/raw", [q, large](benchmark::State& state) {
        const DOMDocument* doc = Tree(large);
        for (auto _ : state) benchmark::DoNotOptimize(q.raw(doc));
    });
#ifdef KELXML_BENCH_LIBXML2
    Register(name + "/libxml2", [q, large](benchmark::State& state) {
        static std::map<bool, xmlDocPtr> trees;
        xmlDocPtr& tree = trees[large];
        if (!tree)
            tree = xmlReadFile((large ? Records50MB() : Records1MB()).path.c_str(), nullptr,
                               XML_PARSE_NONET | XML_PARSE_HUGE);
        xmlXPathCompExprPtr compiled = xmlXPathCompile(BAD_CAST q.expr);
        xmlXPathContextPtr context = xmlXPathNewContext(tree);
        for (auto _ : state) {
            xmlXPathObjectPtr result = xmlXPathCompiledEval(compiled, context);
            benchmark::DoNotOptimize(result);
            xmlXPathFreeObject(result);
        }
        xmlXPathFreeContext(context);
        xmlXPathFreeCompExpr(compiled);
    });
#endif
}

}  // namespace

void RegisterXPath() {
    for (bool large : {false, true})
        for (const Query& q : kQueries) RegisterQuery(q, large);
}

}  // namespace bench
