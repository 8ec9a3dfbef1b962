// Building a 1 MB record document with the editing operations, and saving it pretty-printed
// and canonical.
#include "Fixtures.h"
#include "Generator.h"

#include <xercesc/framework/LocalFileFormatTarget.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

using namespace xercesc;

namespace bench {
namespace {

struct Rec {
    std::string id, mask, weight, active, code, name, city, amount;
    unsigned count;
};

// Record values of the same kinds as in the record files.
const std::vector<Rec>& Inputs() {
    static const std::vector<Rec> recs = [] {
        const char* cities[] = {"Köln", "Zürich", "Malmö", "Kraków"};
        Random rnd(kSeed);
        // As many records as make about 1 MB pretty-printed.
        std::vector<Rec> v(Records1MB().records * 3 / 2);
        for (std::size_t i = 0; i < v.size(); ++i) {
            Rec& r = v[i];
            char buf[32];
            r.id = std::to_string(i + 1);
            std::snprintf(buf, sizeof buf, "0x%X", rnd.Below(1u << 24));
            r.mask = buf;
            std::snprintf(buf, sizeof buf, "%u.%02u", rnd.Below(1000), rnd.Below(100));
            r.weight = buf;
            r.active = rnd.Below(2) ? "true" : "false";
            r.code = "R-" + std::to_string(100000 + i);
            r.name = "Zoë Müller " + r.id;
            r.city = cities[rnd.Below(4)];
            std::snprintf(buf, sizeof buf, "%u.%02u", rnd.Below(10000), rnd.Below(100));
            r.amount = buf;
            r.count = rnd.Below(1000);
        }
        return v;
    }();
    return recs;
}

std::string OutFile(const std::string& column) { return DataDir() + "/saved-" + column + ".xml"; }

void SetItems(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Inputs().size()));
}

// --- Kel_XML -------------------------------------------------------------------------------
void BuildKel(XML::CKelXML& doc) {
    doc.CreateDoc("Catalog");
    DOMElement* list = doc.AddNewElementNode("Records", doc.GetRootNode("Catalog"));
    std::size_t i = 0;
    for (const Rec& r : Inputs()) {
        DOMElement* e = doc.AddNewElementNode("Record", list);
        doc.AddNewAttribute("id", r.id, e);
        doc.AddNewAttribute("mask", r.mask, e);
        doc.AddNewAttribute("weight", r.weight, e);
        doc.AddNewAttribute("active", r.active, e);
        doc.AddNewAttribute("code", r.code, e);
        doc.AddNewElementNode("Name", r.name, e);
        doc.AddNewElementNode("City", r.city, e);
        doc.AddChildNodeValue(e, "Count", r.count);
        doc.AddChildNodeValue(e, "Amount", r.amount.c_str());
        if (++i % 3 == 0) doc.ModifyAttribute("active", "false", e);
    }
}

void BuildKelBench(benchmark::State& state) {
    for (auto _ : state) {
        XML::CKelXML doc;
        BuildKel(doc);
        benchmark::DoNotOptimize(doc.GetDocument());
    }
    SetItems(state);
}

void SaveKel(benchmark::State& state, bool canonical) {
    XML::CKelXML doc;
    BuildKel(doc);
    const std::string out = OutFile(canonical ? "kel-c" : "kel");
    for (auto _ : state)
        if (!doc.Save(out.c_str(), canonical)) state.SkipWithError("Save failed");
    SetItems(state);
}

// --- Raw Xerces ----------------------------------------------------------------------------
struct RawBuilder {
    XName catalog{"Catalog"}, records{"Records"}, record{"Record"}, id{"id"}, mask{"mask"}, weight{"weight"},
        active{"active"}, code{"code"}, name{"Name"}, city{"City"}, count{"Count"}, amount{"Amount"},
        falseText{"false"}, core{"Core"};

    static void SetAttribute(DOMElement* e, const XMLCh* name, const std::string& value) {
        XMLCh* v = XMLString::transcode(value.c_str());
        e->setAttribute(name, v);
        XMLString::release(&v);
    }
    static void AddChild(DOMDocument* d, DOMElement* parent, const XMLCh* name, const std::string& text) {
        DOMElement* e = d->createElement(name);
        XMLCh* t = XMLString::transcode(text.c_str());
        e->appendChild(d->createTextNode(t));
        XMLString::release(&t);
        parent->appendChild(e);
    }
    DOMDocument* Build() {
        DOMImplementation* impl = DOMImplementationRegistry::getDOMImplementation(core);
        DOMDocument* d = impl->createDocument(nullptr, catalog, nullptr);
        DOMElement* list = d->createElement(records);
        d->getDocumentElement()->appendChild(list);
        std::size_t i = 0;
        for (const Rec& r : Inputs()) {
            DOMElement* e = d->createElement(record);
            list->appendChild(e);
            SetAttribute(e, id, r.id);
            SetAttribute(e, mask, r.mask);
            SetAttribute(e, weight, r.weight);
            SetAttribute(e, active, r.active);
            SetAttribute(e, code, r.code);
            AddChild(d, e, name, r.name);
            AddChild(d, e, city, r.city);
            AddChild(d, e, count, std::to_string(r.count));
            AddChild(d, e, amount, r.amount);
            if (++i % 3 == 0) e->getAttributeNode(active)->setValue(falseText);
        }
        return d;
    }
};

void BuildRawBench(benchmark::State& state) {
    RawBuilder b;
    for (auto _ : state) {
        DOMDocument* d = b.Build();
        benchmark::DoNotOptimize(d);
        d->release();
    }
    SetItems(state);
}

DOMLSSerializer* RawSerializer(DOMDocument* d, bool canonical) {
    DOMLSSerializer* s = d->getImplementation()->createLSSerializer();
    DOMConfiguration* c = s->getDomConfig();
    const auto set = [c](const XMLCh* name, bool value) {
        if (c->canSetParameter(name, value)) c->setParameter(name, value);
    };
    if (canonical) {
        set(XMLUni::fgDOMWRTCanonicalForm, true);
    } else {
        set(XMLUni::fgDOMWRTFormatPrettyPrint, true);
        set(XMLUni::fgDOMWRTWhitespaceInElementContent, false);
    }
    return s;
}

// The same work as Save: serialise into memory, write a temporary file, flush it to disk and
// rename it over the target.
void SaveRaw(benchmark::State& state, bool canonical) {
    RawBuilder b;
    DOMDocument* d = b.Build();
    const std::string out = OutFile(canonical ? "raw-c" : "raw"), temp = out + ".tmp";
    for (auto _ : state) {
        MemBufFormatTarget target;
        DOMLSSerializer* s = RawSerializer(d, canonical);
        DOMLSOutput* o = d->getImplementation()->createLSOutput();
        o->setByteStream(&target);
        s->write(d, o);
        o->release();
        s->release();
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool ok = fd >= 0 &&
                        ::write(fd, target.getRawBuffer(), target.getLen()) == static_cast<ssize_t>(target.getLen()) &&
                        ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        if (!ok || std::rename(temp.c_str(), out.c_str()) != 0) state.SkipWithError("write failed");
    }
    d->release();
    SetItems(state);
}

// What hand-written code usually does: the serializer writes straight into the file.
void SaveRawPlain(benchmark::State& state, bool canonical) {
    RawBuilder b;
    DOMDocument* d = b.Build();
    const std::string out = OutFile(canonical ? "rawplain-c" : "rawplain");
    for (auto _ : state) {
        LocalFileFormatTarget target(out.c_str());
        DOMLSSerializer* s = RawSerializer(d, canonical);
        DOMLSOutput* o = d->getImplementation()->createLSOutput();
        o->setByteStream(&target);
        s->write(d, o);
        o->release();
        s->release();
    }
    d->release();
    SetItems(state);
}

// --- Other libraries -----------------------------------------------------------------------
#ifdef KELXML_BENCH_PUGIXML
void BuildPugi(pugi::xml_document& doc) {
    doc.reset();
    pugi::xml_node list = doc.append_child("Catalog").append_child("Records");
    std::size_t i = 0;
    for (const Rec& r : Inputs()) {
        pugi::xml_node e = list.append_child("Record");
        e.append_attribute("id").set_value(r.id.c_str());
        e.append_attribute("mask").set_value(r.mask.c_str());
        e.append_attribute("weight").set_value(r.weight.c_str());
        e.append_attribute("active").set_value(r.active.c_str());
        e.append_attribute("code").set_value(r.code.c_str());
        e.append_child("Name").text().set(r.name.c_str());
        e.append_child("City").text().set(r.city.c_str());
        e.append_child("Count").text().set(r.count);
        e.append_child("Amount").text().set(r.amount.c_str());
        if (++i % 3 == 0) e.attribute("active").set_value("false");
    }
}
void BuildPugiBench(benchmark::State& state) {
    for (auto _ : state) {
        pugi::xml_document doc;
        BuildPugi(doc);
    }
    SetItems(state);
}
void SavePugi(benchmark::State& state, bool canonical) {
    pugi::xml_document doc;
    BuildPugi(doc);
    const std::string out = OutFile(canonical ? "pugixml-c" : "pugixml");
    for (auto _ : state) doc.save_file(out.c_str(), "  ", canonical ? pugi::format_raw : pugi::format_default);
    SetItems(state);
}
#endif
#ifdef KELXML_BENCH_TINYXML2
void BuildTiny(tinyxml2::XMLDocument& doc) {
    doc.Clear();
    tinyxml2::XMLElement* root = doc.NewElement("Catalog");
    doc.InsertEndChild(root);
    tinyxml2::XMLElement* list = root->InsertNewChildElement("Records");
    std::size_t i = 0;
    for (const Rec& r : Inputs()) {
        tinyxml2::XMLElement* e = list->InsertNewChildElement("Record");
        e->SetAttribute("id", r.id.c_str());
        e->SetAttribute("mask", r.mask.c_str());
        e->SetAttribute("weight", r.weight.c_str());
        e->SetAttribute("active", r.active.c_str());
        e->SetAttribute("code", r.code.c_str());
        e->InsertNewChildElement("Name")->SetText(r.name.c_str());
        e->InsertNewChildElement("City")->SetText(r.city.c_str());
        e->InsertNewChildElement("Count")->SetText(r.count);
        e->InsertNewChildElement("Amount")->SetText(r.amount.c_str());
        if (++i % 3 == 0) e->SetAttribute("active", "false");
    }
}
void BuildTinyBench(benchmark::State& state) {
    for (auto _ : state) {
        tinyxml2::XMLDocument doc;
        BuildTiny(doc);
    }
    SetItems(state);
}
void SaveTiny(benchmark::State& state, bool canonical) {
    tinyxml2::XMLDocument doc;
    BuildTiny(doc);
    const std::string out = OutFile(canonical ? "tinyxml2-c" : "tinyxml2");
    for (auto _ : state) doc.SaveFile(out.c_str(), canonical);
    SetItems(state);
}
#endif
#ifdef KELXML_BENCH_LIBXML2
xmlDocPtr BuildLibxml2() {
    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    xmlNodePtr root = xmlNewNode(nullptr, BAD_CAST "Catalog");
    xmlDocSetRootElement(doc, root);
    xmlNodePtr list = xmlNewChild(root, nullptr, BAD_CAST "Records", nullptr);
    std::size_t i = 0;
    for (const Rec& r : Inputs()) {
        xmlNodePtr e = xmlNewChild(list, nullptr, BAD_CAST "Record", nullptr);
        xmlNewProp(e, BAD_CAST "id", BAD_CAST r.id.c_str());
        xmlNewProp(e, BAD_CAST "mask", BAD_CAST r.mask.c_str());
        xmlNewProp(e, BAD_CAST "weight", BAD_CAST r.weight.c_str());
        xmlNewProp(e, BAD_CAST "active", BAD_CAST r.active.c_str());
        xmlNewProp(e, BAD_CAST "code", BAD_CAST r.code.c_str());
        xmlNewTextChild(e, nullptr, BAD_CAST "Name", BAD_CAST r.name.c_str());
        xmlNewTextChild(e, nullptr, BAD_CAST "City", BAD_CAST r.city.c_str());
        xmlNewTextChild(e, nullptr, BAD_CAST "Count", BAD_CAST std::to_string(r.count).c_str());
        xmlNewTextChild(e, nullptr, BAD_CAST "Amount", BAD_CAST r.amount.c_str());
        if (++i % 3 == 0) xmlSetProp(e, BAD_CAST "active", BAD_CAST "false");
    }
    return doc;
}
void BuildLibxml2Bench(benchmark::State& state) {
    for (auto _ : state) xmlFreeDoc(BuildLibxml2());
    SetItems(state);
}
void SaveLibxml2(benchmark::State& state, bool canonical) {
    xmlDocPtr doc = BuildLibxml2();
    const std::string out = OutFile(canonical ? "libxml2-c" : "libxml2");
    for (auto _ : state) xmlSaveFormatFileEnc(out.c_str(), doc, "UTF-8", canonical ? 0 : 1);
    xmlFreeDoc(doc);
    SetItems(state);
}
#endif

using Saver = void (*)(benchmark::State&, bool);

}  // namespace

void RegisterEdit() {
    Register("build_1MB/kel", BuildKelBench);
    Register("build_1MB/raw", BuildRawBench);
#ifdef KELXML_BENCH_PUGIXML
    Register("build_1MB/pugixml", BuildPugiBench);
#endif
#ifdef KELXML_BENCH_TINYXML2
    Register("build_1MB/tinyxml2", BuildTinyBench);
#endif
#ifdef KELXML_BENCH_LIBXML2
    Register("build_1MB/libxml2", BuildLibxml2Bench);
#endif
    std::vector<std::pair<std::string, Saver>> savers = {
        {"kel", SaveKel}, {"raw", SaveRaw}, {"raw_plain", SaveRawPlain}};
#ifdef KELXML_BENCH_PUGIXML
    savers.emplace_back("pugixml", SavePugi);
#endif
#ifdef KELXML_BENCH_TINYXML2
    savers.emplace_back("tinyxml2", SaveTiny);
#endif
#ifdef KELXML_BENCH_LIBXML2
    savers.emplace_back("libxml2", SaveLibxml2);
#endif
    for (bool canonical : {false, true})
        for (const auto& [column, saver] : savers)
            Register(std::string(canonical ? "save_canonical_1MB/" : "save_pretty_1MB/") + column,
                     [saver = saver, canonical](benchmark::State& state) { saver(state, canonical); });
}

}  // namespace bench
