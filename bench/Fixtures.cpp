#include "Fixtures.h"

#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

using namespace xercesc;

namespace bench {

namespace {
std::vector<DOMElement*> WideItems(DOMDocument* doc) {
    const XName item("Item");
    std::vector<DOMElement*> items;
    for (DOMNode* n = doc->getDocumentElement()->getFirstChild(); n; n = n->getNextSibling())
        if (n->getNodeType() == DOMNode::ELEMENT_NODE && XMLString::equals(n->getNodeName(), item))
            items.push_back(static_cast<DOMElement*>(n));
    return items;
}

void LoadKel(KelDoc& k, const Document& d, bool wide) {
    if (!k.doc.Load(d.path.c_str(), false)) throw std::runtime_error("cannot load " + d.path);
    k.root = k.doc.GetDocument()->getDocumentElement();
    k.records = wide ? WideItems(k.doc.GetDocument()) : RawRecords(k.doc.GetDocument());
}

}  // namespace

KelDoc& KelRecords() {
    static KelDoc* k = [] {
        auto* p = new KelDoc;  // left to the process: released after the parser library stopped, it would crash
        LoadKel(*p, Records1MB(), false);
        return p;
    }();
    return *k;
}

// The raw column reads the very tree the Kel_XML column reads (loaded with the same parser
// settings either way): two separately loaded copies would lie differently in memory, and on
// a 1 MB tree that alone moves the times by more than the wrapper's cost.
RawDoc& RawRecordsDoc() {
    static RawDoc* r = [] {
        auto* p = new RawDoc;
        KelDoc& k = KelRecords();
        p->doc = k.doc.GetDocument();
        p->root = p->doc->getDocumentElement();
        p->records = k.records;
        return p;
    }();
    return *r;
}

KelDoc& KelWide(std::size_t children) {
    static std::map<std::size_t, KelDoc*> docs;
    KelDoc*& k = docs[children];
    if (!k) {
        k = new KelDoc;
        LoadKel(*k, Wide(children), true);
    }
    return *k;
}

RawDoc& RawWide(std::size_t children) {
    static std::map<std::size_t, RawDoc*> docs;
    RawDoc*& r = docs[children];
    if (!r) {
        r = new RawDoc;
        KelDoc& k = KelWide(children);
        r->doc = k.doc.GetDocument();
        r->root = r->doc->getDocumentElement();
        r->records = k.records;
    }
    return *r;
}

#ifdef KELXML_BENCH_PUGIXML
PugiDoc& PugiRecords() {
    static PugiDoc p;
    if (p.records.empty()) {
        p.doc.load_file(Records1MB().path.c_str());
        for (pugi::xml_node n : p.doc.document_element().child("Records").children("Record")) p.records.push_back(n);
    }
    return p;
}
#endif

#ifdef KELXML_BENCH_TINYXML2
TinyDoc& TinyRecords() {
    static TinyDoc t;
    if (t.records.empty()) {
        t.doc.LoadFile(Records1MB().path.c_str());
        for (auto* n = t.doc.RootElement()->FirstChildElement("Records")->FirstChildElement("Record"); n;
             n = n->NextSiblingElement("Record"))
            t.records.push_back(n);
    }
    return t;
}
#endif

#ifdef KELXML_BENCH_LIBXML2
Libxml2Doc& Libxml2Records() {
    static Libxml2Doc l;
    if (!l.doc) {
        l.doc = xmlReadFile(Records1MB().path.c_str(), nullptr, XML_PARSE_NONET);
        xmlNodePtr list = xmlDocGetRootElement(l.doc)->children;
        while (list && !(list->type == XML_ELEMENT_NODE && xmlStrcmp(list->name, BAD_CAST "Records") == 0))
            list = list->next;
        for (xmlNodePtr n = list ? list->children : nullptr; n; n = n->next)
            if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, BAD_CAST "Record") == 0) l.records.push_back(n);
    }
    return l;
}
#endif

bool SumFunctor::operator()(DOMNode*, std::string tagName, std::string text, std::string* values, void*) {
    sum += static_cast<long>(tagName.size() + text.size()) + std::atoi(values[0].c_str()) +
           static_cast<long>(values[1].size() + values[2].size());
    return true;
}

}  // namespace bench
