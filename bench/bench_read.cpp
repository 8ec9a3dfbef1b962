// Reading the 1 MB record file: typed attributes, child values, LoopElements, the dictionary,
// counts and element text; each next to the same work written on the raw DOM.
#include "Fixtures.h"

#include <xercesc/util/XMLString.hpp>

#include <map>

using namespace xercesc;

namespace bench {

unsigned RawCountBelow(const DOMNode* start, const XMLCh* name) {
    unsigned count = 0;
    RawElementsBelow(start, [&](const DOMNode* n) {
        if (XMLString::equals(n->getNodeName(), name)) ++count;
    });
    return count;
}

unsigned RawCountChildren(const DOMNode* parent, const XMLCh* name) {
    unsigned count = 0;
    for (const DOMNode* n = parent->getFirstChild(); n; n = n->getNextSibling())
        if (n->getNodeType() == DOMNode::ELEMENT_NODE && XMLString::equals(n->getNodeName(), name)) ++count;
    return count;
}

// LoopElements' work by hand: the first child named first, then each child named second.
bool RawLoop(XML::TFunctor& f, DOMNode* start, const XMLCh* first, const XMLCh* second, const char* tag,
             const XMLCh* const* names, int count) {
    DOMNode* parent = first ? RawFirstChild(start, first) : start;
    if (!parent) return false;
    bool result = false;
    for (DOMNode* n = parent->getFirstChild(); n; n = n->getNextSibling()) {
        if (!XMLString::equals(n->getNodeName(), second)) continue;
        std::vector<std::string> values(static_cast<std::size_t>(count));
        if (n->getNodeType() == DOMNode::ELEMENT_NODE)
            for (int i = 0; i < count; ++i) RawAttribute(static_cast<DOMElement*>(n), names[i], values[i]);
        result = f(n, tag, RawText(n), values.data(), nullptr);
    }
    return result;
}

void RawDictionary(const DOMNode* node, std::map<std::string, std::string>& dict) {
    for (const DOMNode* n = node->getFirstChild(); n; n = n->getNextSibling())
        dict[RawLocal(n->getNodeName())] = RawText(n);
}

namespace {

std::string kLoopNames[3] = {"id", "mask", "active"};

void Items(benchmark::State& state, std::size_t perIteration) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * perIteration));
}

// --- Typed attribute reads -----------------------------------------------------------------
void AttrsKel(benchmark::State& state) {
    KelDoc& k = KelRecords();
    for (auto _ : state) {
        long sum = 0;
        for (DOMElement* rec : k.records) {
            int id = 0;
            unsigned long mask = 0;
            float weight = 0;
            bool active = false;
            std::string code;
            XML::CKelXML::GetAttributeValue(rec, "id", id);
            XML::CKelXML::GetAttributeValue(rec, "mask", mask);
            XML::CKelXML::GetAttributeValue(rec, "weight", weight);
            XML::CKelXML::GetAttributeValue(rec, "active", active);
            XML::CKelXML::GetAttributeValue(rec, "code", code);
            sum += id + static_cast<long>(mask) + static_cast<long>(weight) + active + static_cast<long>(code.size());
        }
        benchmark::DoNotOptimize(sum);
    }
    Items(state, k.records.size());
}

void AttrsRaw(benchmark::State& state) {
    RawDoc& r = RawRecordsDoc();
    const XName xid("id"), xmask("mask"), xweight("weight"), xactive("active"), xcode("code");
    const auto read = [](const DOMElement* e, const XMLCh* name, auto&& convert) {
        if (const DOMAttr* a = e->getAttributeNode(name)) WithLocal(a->getValue(), convert);
    };
    for (auto _ : state) {
        long sum = 0;
        for (DOMElement* rec : r.records) {
            int id = 0;
            unsigned long mask = 0;
            float weight = 0;
            bool active = false;
            std::string code;
            read(rec, xid, [&](const char* s) { id = std::atoi(s); });
            read(rec, xmask, [&](const char* s) { mask = std::strtoul(s, nullptr, 0); });
            read(rec, xweight, [&](const char* s) { weight = static_cast<float>(std::atof(s)); });
            read(rec, xactive, [&](const char* s) { active = AttributeBool(s); });
            RawAttribute(rec, xcode, code);
            sum += id + static_cast<long>(mask) + static_cast<long>(weight) + active + static_cast<long>(code.size());
        }
        benchmark::DoNotOptimize(sum);
    }
    Items(state, r.records.size());
}

#ifdef KELXML_BENCH_PUGIXML
void AttrsPugi(benchmark::State& state) {
    PugiDoc& p = PugiRecords();
    for (auto _ : state) {
        long sum = 0;
        for (pugi::xml_node rec : p.records) {
            const int id = rec.attribute("id").as_int();
            const unsigned long mask = rec.attribute("mask").as_uint();
            const float weight = rec.attribute("weight").as_float();
            const bool active = rec.attribute("active").as_bool();
            const std::string code = rec.attribute("code").value();
            sum += id + static_cast<long>(mask) + static_cast<long>(weight) + active + static_cast<long>(code.size());
        }
        benchmark::DoNotOptimize(sum);
    }
    Items(state, p.records.size());
}
#endif
#ifdef KELXML_BENCH_TINYXML2
void AttrsTiny(benchmark::State& state) {
    TinyDoc& t = TinyRecords();
    for (auto _ : state) {
        long sum = 0;
        for (tinyxml2::XMLElement* rec : t.records) {
            const int id = rec->IntAttribute("id");
            const unsigned long mask = rec->UnsignedAttribute("mask");
            const float weight = rec->FloatAttribute("weight");
            const bool active = rec->BoolAttribute("active");
            const char* c = rec->Attribute("code");
            const std::string code = c ? c : "";
            sum += id + static_cast<long>(mask) + static_cast<long>(weight) + active + static_cast<long>(code.size());
        }
        benchmark::DoNotOptimize(sum);
    }
    Items(state, t.records.size());
}
#endif
#ifdef KELXML_BENCH_LIBXML2
void AttrsLibxml2(benchmark::State& state) {
    Libxml2Doc& l = Libxml2Records();
    const auto read = [](xmlNodePtr n, const char* name, auto&& convert) {
        if (xmlChar* v = xmlGetProp(n, BAD_CAST name)) {
            convert(reinterpret_cast<const char*>(v));
            xmlFree(v);
        }
    };
    for (auto _ : state) {
        long sum = 0;
        for (xmlNodePtr rec : l.records) {
            int id = 0;
            unsigned long mask = 0;
            float weight = 0;
            bool active = false;
            std::string code;
            read(rec, "id", [&](const char* s) { id = std::atoi(s); });
            read(rec, "mask", [&](const char* s) { mask = std::strtoul(s, nullptr, 0); });
            read(rec, "weight", [&](const char* s) { weight = static_cast<float>(std::atof(s)); });
            read(rec, "active", [&](const char* s) { active = AttributeBool(s); });
            read(rec, "code", [&](const char* s) { code = s; });
            sum += id + static_cast<long>(mask) + static_cast<long>(weight) + active + static_cast<long>(code.size());
        }
        benchmark::DoNotOptimize(sum);
    }
    Items(state, l.records.size());
}
#endif

// --- GetChildValue for a few names ---------------------------------------------------------
void ChildKel(benchmark::State& state) {
    KelDoc& k = KelRecords();
    for (auto _ : state) {
        long sum = 0;
        for (DOMElement* rec : k.records) {
            std::string name;
            int count = 0;
            float amount = 0;
            bool enabled = false;
            XML::CKelXML::GetChildValue(rec, "Name", name);
            XML::CKelXML::GetChildValue(rec, "Count", count);
            XML::CKelXML::GetChildValue(rec, "Amount", amount);
            XML::CKelXML::GetChildValue(rec, "Enabled", enabled);
            sum += static_cast<long>(name.size()) + count + static_cast<long>(amount) + enabled;
        }
        benchmark::DoNotOptimize(sum);
    }
    Items(state, k.records.size());
}

void ChildRaw(benchmark::State& state) {
    RawDoc& r = RawRecordsDoc();
    const XName xname("Name"), xcount("Count"), xamount("Amount"), xenabled("Enabled");
    for (auto _ : state) {
        long sum = 0;
        for (DOMElement* rec : r.records) {
            std::string name;
            int count = 0;
            float amount = 0;
            bool enabled = false;
            if (auto* e = RawFirstDescendant(rec, xname)) name = RawText(e);
            if (auto* e = RawFirstDescendant(rec, xcount)) count = std::atoi(RawText(e).c_str());
            if (auto* e = RawFirstDescendant(rec, xamount)) amount = static_cast<float>(std::atof(RawText(e).c_str()));
            if (auto* e = RawFirstDescendant(rec, xenabled)) enabled = TextBool(RawText(e).c_str());
            sum += static_cast<long>(name.size()) + count + static_cast<long>(amount) + enabled;
        }
        benchmark::DoNotOptimize(sum);
    }
    Items(state, r.records.size());
}

#ifdef KELXML_BENCH_PUGIXML
void ChildPugi(benchmark::State& state) {
    PugiDoc& p = PugiRecords();
    for (auto _ : state) {
        long sum = 0;
        for (pugi::xml_node rec : p.records) {
            const std::string name = rec.child("Name").child_value();
            const int count = rec.child("Count").text().as_int();
            const float amount = rec.child("Amount").text().as_float();
            const bool enabled = TextBool(rec.child("Enabled").child_value());
            sum += static_cast<long>(name.size()) + count + static_cast<long>(amount) + enabled;
        }
        benchmark::DoNotOptimize(sum);
    }
    Items(state, p.records.size());
}
#endif

// --- LoopElements over every record, three attributes projected ----------------------------
void LoopKel(benchmark::State& state) {
    KelDoc& k = KelRecords();
    SumFunctor f;
    for (auto _ : state)
        XML::CKelXML::LoopElements(&f, k.root, "Records\\Record", kLoopNames, 3, nullptr, false, false, false);
    benchmark::DoNotOptimize(f.sum);
    Items(state, k.records.size());
}

void LoopRaw(benchmark::State& state) {
    RawDoc& r = RawRecordsDoc();
    const XName xrecords("Records"), xrecord("Record"), xid("id"), xmask("mask"), xactive("active");
    const XMLCh* names[3] = {xid, xmask, xactive};
    SumFunctor f;
    for (auto _ : state) RawLoop(f, r.root, xrecords, xrecord, "Record", names, 3);
    benchmark::DoNotOptimize(f.sum);
    Items(state, r.records.size());
}

#ifdef KELXML_BENCH_PUGIXML
void PugiText(pugi::xml_node node, std::string& out) {
    for (pugi::xml_node n = node.first_child(); n;) {
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) out += n.value();
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n != node && !n.next_sibling()) n = n.parent();
        if (n == node) break;
        n = n.next_sibling();
    }
}
void LoopPugi(benchmark::State& state) {
    PugiDoc& p = PugiRecords();
    SumFunctor f;
    for (auto _ : state) {
        for (pugi::xml_node rec : p.doc.document_element().child("Records").children("Record")) {
            std::string values[3];
            for (int i = 0; i < 3; ++i) values[i] = rec.attribute(kLoopNames[i].c_str()).value();
            std::string text;
            PugiText(rec, text);
            f(nullptr, "Record", text, values, nullptr);
        }
    }
    benchmark::DoNotOptimize(f.sum);
    Items(state, p.records.size());
}
#endif
#ifdef KELXML_BENCH_TINYXML2
void TinyText(const tinyxml2::XMLNode* node, std::string& out) {
    for (const tinyxml2::XMLNode* n = node->FirstChild(); n;) {
        if (const tinyxml2::XMLText* t = n->ToText()) out += t->Value();
        if (n->FirstChild()) {
            n = n->FirstChild();
            continue;
        }
        while (n != node && !n->NextSibling()) n = n->Parent();
        if (n == node) break;
        n = n->NextSibling();
    }
}
void LoopTiny(benchmark::State& state) {
    TinyDoc& t = TinyRecords();
    SumFunctor f;
    for (auto _ : state) {
        for (auto* rec = t.doc.RootElement()->FirstChildElement("Records")->FirstChildElement("Record"); rec;
             rec = rec->NextSiblingElement("Record")) {
            std::string values[3];
            for (int i = 0; i < 3; ++i)
                if (const char* v = rec->Attribute(kLoopNames[i].c_str())) values[i] = v;
            std::string text;
            TinyText(rec, text);
            f(nullptr, "Record", text, values, nullptr);
        }
    }
    benchmark::DoNotOptimize(f.sum);
    Items(state, t.records.size());
}
#endif
#ifdef KELXML_BENCH_LIBXML2
void LoopLibxml2(benchmark::State& state) {
    Libxml2Doc& l = Libxml2Records();
    SumFunctor f;
    for (auto _ : state) {
        xmlNodePtr list = xmlDocGetRootElement(l.doc)->children;
        while (list && !(list->type == XML_ELEMENT_NODE && xmlStrcmp(list->name, BAD_CAST "Records") == 0))
            list = list->next;
        for (xmlNodePtr rec = list->children; rec; rec = rec->next) {
            if (rec->type != XML_ELEMENT_NODE || xmlStrcmp(rec->name, BAD_CAST "Record") != 0) continue;
            std::string values[3];
            for (int i = 0; i < 3; ++i)
                if (xmlChar* v = xmlGetProp(rec, BAD_CAST kLoopNames[i].c_str())) {
                    values[i] = reinterpret_cast<const char*>(v);
                    xmlFree(v);
                }
            xmlChar* content = xmlNodeGetContent(rec);
            std::string text = content ? reinterpret_cast<const char*>(content) : "";
            xmlFree(content);
            f(nullptr, "Record", text, values, nullptr);
        }
    }
    benchmark::DoNotOptimize(f.sum);
    Items(state, l.records.size());
}
#endif

// --- o_GetDictionaryFromNode of every record -----------------------------------------------
void DictKel(benchmark::State& state) {
    KelDoc& k = KelRecords();
    std::map<std::string, std::string> dict;
    for (auto _ : state)
        for (DOMElement* rec : k.records) {
            dict.clear();
            XML::CKelXML::o_GetDictionaryFromNode(rec, dict);
        }
    Items(state, k.records.size());
}

void DictRaw(benchmark::State& state) {
    RawDoc& r = RawRecordsDoc();
    std::map<std::string, std::string> dict;
    for (auto _ : state)
        for (DOMElement* rec : r.records) {
            dict.clear();
            RawDictionary(rec, dict);
        }
    Items(state, r.records.size());
}

// --- GetNbChildInNode: every Record, at any depth ------------------------------------------
void CountKel(benchmark::State& state) {
    KelDoc& k = KelRecords();
    for (auto _ : state) {
        unsigned count = 0;
        XML::CKelXML::GetNbChildInNode(k.root, "Record", count);
        if (count != k.records.size()) state.SkipWithError("wrong count");
        benchmark::DoNotOptimize(count);
    }
    Items(state, k.records.size());
}

void CountRaw(benchmark::State& state) {
    RawDoc& r = RawRecordsDoc();
    const XName xrecord("Record");
    for (auto _ : state) {
        unsigned count = RawCountBelow(r.root, xrecord);
        benchmark::DoNotOptimize(count);
    }
    Items(state, r.records.size());
}

#ifdef KELXML_BENCH_PUGIXML
void CountPugi(benchmark::State& state) {
    PugiDoc& p = PugiRecords();
    for (auto _ : state) {
        unsigned count = 0;
        const pugi::xml_node start = p.doc.document_element();
        for (pugi::xml_node n = start.first_child(); n;) {
            if (n.type() == pugi::node_element && std::strcmp(n.name(), "Record") == 0) ++count;
            if (n.first_child()) {
                n = n.first_child();
                continue;
            }
            while (n != start && !n.next_sibling()) n = n.parent();
            if (n == start) break;
            n = n.next_sibling();
        }
        benchmark::DoNotOptimize(count);
    }
    Items(state, p.records.size());
}
#endif
#ifdef KELXML_BENCH_TINYXML2
void CountTiny(benchmark::State& state) {
    TinyDoc& t = TinyRecords();
    for (auto _ : state) {
        unsigned count = 0;
        const tinyxml2::XMLNode* start = t.doc.RootElement();
        for (const tinyxml2::XMLNode* n = start->FirstChild(); n;) {
            if (n->ToElement() && std::strcmp(n->Value(), "Record") == 0) ++count;
            if (n->FirstChild()) {
                n = n->FirstChild();
                continue;
            }
            while (n != start && !n->NextSibling()) n = n->Parent();
            if (n == start) break;
            n = n->NextSibling();
        }
        benchmark::DoNotOptimize(count);
    }
    Items(state, t.records.size());
}
#endif
#ifdef KELXML_BENCH_LIBXML2
void CountLibxml2(benchmark::State& state) {
    Libxml2Doc& l = Libxml2Records();
    for (auto _ : state) {
        unsigned count = 0;
        const xmlNode* start = xmlDocGetRootElement(l.doc);
        for (const xmlNode* n = start->children; n;) {
            if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, BAD_CAST "Record") == 0) ++count;
            if (n->children && n->type == XML_ELEMENT_NODE) {
                n = n->children;
                continue;
            }
            while (n != start && !n->next) n = n->parent;
            if (n == start) break;
            n = n->next;
        }
        benchmark::DoNotOptimize(count);
    }
    Items(state, l.records.size());
}
#endif

// --- GetValue of every record (the whole text below it) ------------------------------------
void TextKel(benchmark::State& state) {
    KelDoc& k = KelRecords();
    for (auto _ : state) {
        std::size_t total = 0;
        for (DOMElement* rec : k.records) {
            std::string text;
            XML::CKelXML::GetValue(rec, text);
            total += text.size();
        }
        benchmark::DoNotOptimize(total);
    }
    Items(state, k.records.size());
}

void TextRaw(benchmark::State& state) {
    RawDoc& r = RawRecordsDoc();
    for (auto _ : state) {
        std::size_t total = 0;
        for (DOMElement* rec : r.records) total += RawText(rec).size();
        benchmark::DoNotOptimize(total);
    }
    Items(state, r.records.size());
}

}  // namespace

void RegisterRead() {
    Register("attributes_typed/kel", AttrsKel);
    RegisterRaw("attributes_typed", AttrsRaw);
#ifdef KELXML_BENCH_PUGIXML
    Register("attributes_typed/pugixml", AttrsPugi);
#endif
#ifdef KELXML_BENCH_TINYXML2
    Register("attributes_typed/tinyxml2", AttrsTiny);
#endif
#ifdef KELXML_BENCH_LIBXML2
    Register("attributes_typed/libxml2", AttrsLibxml2);
#endif
    Register("child_values/kel", ChildKel);
    RegisterRaw("child_values", ChildRaw);
#ifdef KELXML_BENCH_PUGIXML
    Register("child_values/pugixml", ChildPugi);
#endif
    Register("loop_elements/kel", LoopKel);
    RegisterRaw("loop_elements", LoopRaw);
#ifdef KELXML_BENCH_PUGIXML
    Register("loop_elements/pugixml", LoopPugi);
#endif
#ifdef KELXML_BENCH_TINYXML2
    Register("loop_elements/tinyxml2", LoopTiny);
#endif
#ifdef KELXML_BENCH_LIBXML2
    Register("loop_elements/libxml2", LoopLibxml2);
#endif
    Register("dictionary/kel", DictKel);
    RegisterRaw("dictionary", DictRaw);
    Register("count_recursive/kel", CountKel);
    RegisterRaw("count_recursive", CountRaw);
#ifdef KELXML_BENCH_PUGIXML
    Register("count_recursive/pugixml", CountPugi);
#endif
#ifdef KELXML_BENCH_TINYXML2
    Register("count_recursive/tinyxml2", CountTiny);
#endif
#ifdef KELXML_BENCH_LIBXML2
    Register("count_recursive/libxml2", CountLibxml2);
#endif
    Register("element_text/kel", TextKel);
    RegisterRaw("element_text", TextRaw);
}

}  // namespace bench
