// Documents loaded once per process by each library, with their Record (or Item) nodes listed,
// so that read cases time the reads only.
#ifndef KELXML_BENCH_FIXTURES_H
#define KELXML_BENCH_FIXTURES_H

#include "BenchSupport.h"
#include "Others.h"

#include <XML/CKelXML.h>
#include <XML/TFunctor.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace bench {

struct KelDoc {
    XML::CKelXML doc;
    xercesc::DOMNode* root = nullptr;
    std::vector<xercesc::DOMElement*> records;
};
struct RawDoc {
    RawParser parser;
    xercesc::DOMDocument* doc = nullptr;
    xercesc::DOMElement* root = nullptr;
    std::vector<xercesc::DOMElement*> records;
};

// The 1 MB record file (records = Record elements) or a Wide document (records = Item elements).
KelDoc& KelRecords();
RawDoc& RawRecordsDoc();
KelDoc& KelWide(std::size_t children);
RawDoc& RawWide(std::size_t children);

#ifdef KELXML_BENCH_PUGIXML
struct PugiDoc {
    pugi::xml_document doc;
    std::vector<pugi::xml_node> records;
};
PugiDoc& PugiRecords();
#endif
#ifdef KELXML_BENCH_TINYXML2
struct TinyDoc {
    tinyxml2::XMLDocument doc;
    std::vector<tinyxml2::XMLElement*> records;
};
TinyDoc& TinyRecords();
#endif
#ifdef KELXML_BENCH_LIBXML2
struct Libxml2Doc {
    xmlDocPtr doc = nullptr;
    std::vector<xmlNodePtr> records;
    ~Libxml2Doc() { xmlFreeDoc(doc); }
};
Libxml2Doc& Libxml2Records();
#endif

// The LoopElements callback of every column: touches the text and the three values.
class SumFunctor : public XML::TFunctor {
public:
    bool operator()(xercesc::DOMNode*, std::string tagName, std::string text, std::string* values, void*) override;
    long sum = 0;
};

// The boolean rule of attributes: "true", "false", else atoi != 0.
inline bool AttributeBool(const char* s) {
    if (std::strcmp(s, "true") == 0) return true;
    if (std::strcmp(s, "false") == 0) return false;
    return std::atoi(s) != 0;
}
// The boolean rule of element text: "true", "false", else atoi > 0.
inline bool TextBool(const char* s) {
    if (std::strcmp(s, "true") == 0) return true;
    if (std::strcmp(s, "false") == 0) return false;
    return std::atoi(s) > 0;
}

// Pre-order walk below start (start excluded), calling visit for every element.
template <class Visit>
void RawElementsBelow(const xercesc::DOMNode* start, Visit&& visit) {
    const xercesc::DOMNode* n = start->getFirstChild();
    while (n) {
        if (n->getNodeType() == xercesc::DOMNode::ELEMENT_NODE) visit(n);
        if (const xercesc::DOMNode* child = n->getFirstChild()) {
            n = child;
            continue;
        }
        while (n != start && !n->getNextSibling()) n = n->getParentNode();
        if (n == start) break;
        n = n->getNextSibling();
    }
}

unsigned RawCountBelow(const xercesc::DOMNode* start, const XMLCh* name);
unsigned RawCountChildren(const xercesc::DOMNode* parent, const XMLCh* name);
// LoopElements' work by hand: from start, the first child named first (none: start itself),
// then each child named second, with the attributes names[0..count) and the text.
bool RawLoop(XML::TFunctor& f, xercesc::DOMNode* start, const XMLCh* first, const XMLCh* second, const char* tag,
             const XMLCh* const* names, int count);
void RawDictionary(const xercesc::DOMNode* node, std::map<std::string, std::string>& dict);

}  // namespace bench

#endif
