// Loading: 1 MB and 50 MB record files from disk and from memory, and 10,000 loads of the
// 1 KB configuration (where the per-load set-up cost shows).
#include "BenchSupport.h"
#include "Others.h"

#include <XML/CKelXML.h>

#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>

namespace bench {
namespace {

void LoadKel(benchmark::State& state, const Document& d, bool fromMemory) {
    XML::CKelXML doc;
    for (auto _ : state) {
        const bool ok = fromMemory ? doc.Load(static_cast<const void*>(d.text.data()),
                                              static_cast<unsigned int>(d.text.size()))
                                   : doc.Load(d.path.c_str(), false);
        if (!ok) {
            state.SkipWithError("Load failed");
            break;
        }
        benchmark::DoNotOptimize(doc.GetDocument());
    }
}

void LoadRaw(benchmark::State& state, const Document& d, bool fromMemory) {
    RawParser raw;
    for (auto _ : state) {
        auto* doc = fromMemory ? raw.ParseMemory(d.text) : raw.ParseFile(d.path.c_str());
        benchmark::DoNotOptimize(doc);
    }
}

// A new parser per document, as the library made it before it kept one.
void LoadRawFresh(benchmark::State& state, const Document& d, bool fromMemory) {
    for (auto _ : state) {
        RawParser raw;
        auto* doc = fromMemory ? raw.ParseMemory(d.text) : raw.ParseFile(d.path.c_str());
        benchmark::DoNotOptimize(doc);
    }
}

#ifdef KELXML_BENCH_PUGIXML
void LoadPugi(benchmark::State& state, const Document& d, bool fromMemory) {
    pugi::xml_document doc;
    for (auto _ : state) {
        auto result = fromMemory ? doc.load_buffer(d.text.data(), d.text.size()) : doc.load_file(d.path.c_str());
        if (!result) state.SkipWithError("pugixml load failed");
    }
}
#endif
#ifdef KELXML_BENCH_TINYXML2
void LoadTiny(benchmark::State& state, const Document& d, bool fromMemory) {
    tinyxml2::XMLDocument doc;
    for (auto _ : state) {
        auto err = fromMemory ? doc.Parse(d.text.data(), d.text.size()) : doc.LoadFile(d.path.c_str());
        if (err != tinyxml2::XML_SUCCESS) state.SkipWithError("tinyxml2 load failed");
    }
}
#endif
#ifdef KELXML_BENCH_LIBXML2
void LoadLibxml2(benchmark::State& state, const Document& d, bool fromMemory) {
    for (auto _ : state) {
        xmlDocPtr doc = fromMemory ? xmlReadMemory(d.text.data(), static_cast<int>(d.text.size()), "mem", nullptr,
                                                   XML_PARSE_NONET)
                                   : xmlReadFile(d.path.c_str(), nullptr, XML_PARSE_NONET);
        if (!doc) state.SkipWithError("libxml2 load failed");
        xmlFreeDoc(doc);
    }
}
#endif

using Loader = void (*)(benchmark::State&, const Document&, bool);

void RegisterLoads(const std::string& prefix, const Document& (*doc)(), bool fromMemory, bool withFresh,
                   int iterations) {
    std::vector<std::pair<std::string, Loader>> columns = {{"kel", LoadKel}, {"raw", LoadRaw}};
    if (withFresh) columns.emplace_back("raw_fresh", LoadRawFresh);
#ifdef KELXML_BENCH_PUGIXML
    columns.emplace_back("pugixml", LoadPugi);
#endif
#ifdef KELXML_BENCH_TINYXML2
    columns.emplace_back("tinyxml2", LoadTiny);
#endif
#ifdef KELXML_BENCH_LIBXML2
    columns.emplace_back("libxml2", LoadLibxml2);
#endif
    for (const auto& [column, loader] : columns) {
        auto* b = Register(prefix + "/" + column, [doc, fromMemory, loader = loader](benchmark::State& state) {
            const Document& d = doc();
            loader(state, d, fromMemory);
            state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.text.size()));
            if (d.text.empty()) {  // the 50 MB file is not kept in memory: take its size on disk
                std::FILE* f = std::fopen(d.path.c_str(), "rb");
                if (f) {
                    std::fseek(f, 0, SEEK_END);
                    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * std::ftell(f));
                    std::fclose(f);
                }
            }
        });
        if (iterations > 0) b->Iterations(iterations);
    }
}

// Counting the Record elements of a file: GetNbElementsInFile, a raw SAX2 handler set up as the
// load is, and the raw DOM (load, then count the tree).
struct SaxCounter : xercesc::DefaultHandler {
    explicit SaxCounter(const XMLCh* name) : name(name) {}
    void startElement(const XMLCh*, const XMLCh*, const XMLCh* qname, const xercesc::Attributes&) override {
        if (depth++ > 0 && xercesc::XMLString::equals(qname, name)) ++count;
    }
    void endElement(const XMLCh*, const XMLCh*, const XMLCh*) override { --depth; }
    const XMLCh* name;
    unsigned long count = 0;
    int depth = 0;
};

void CountKel(benchmark::State& state, const Document& d) {
    XML::CKelXML doc;
    for (auto _ : state) {
        unsigned long count = 0;
        if (!doc.GetNbElementsInFile(d.path.c_str(), false, "Record", count) || count != d.records)
            state.SkipWithError("count failed");
    }
}

void CountSax(benchmark::State& state, const Document& d) {
    using xercesc::XMLUni;
    const XName name("Record");
    xercesc::SecurityManager security;
    const std::unique_ptr<xercesc::SAX2XMLReader> reader(xercesc::XMLReaderFactory::createXMLReader());
    reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    reader->setFeature(XMLUni::fgSAX2CoreValidation, true);
    reader->setFeature(XMLUni::fgXercesDynamic, true);
    reader->setFeature(XMLUni::fgXercesSchema, true);
    reader->setFeature(XMLUni::fgXercesSchemaFullChecking, true);
    reader->setProperty(XMLUni::fgXercesSecurityManager, &security);
    for (auto _ : state) {
        SaxCounter counter(name);
        reader->setContentHandler(&counter);
        reader->setErrorHandler(&counter);
        reader->parse(d.path.c_str());
        if (counter.count != d.records) state.SkipWithError("count failed");
    }
}

void CountDom(benchmark::State& state, const Document& d) {
    RawParser raw;
    const XName name("Record");
    for (auto _ : state) {
        xercesc::DOMDocument* doc = raw.ParseFile(d.path.c_str());
        if (!doc || doc->getElementsByTagName(name)->getLength() != d.records) state.SkipWithError("count failed");
    }
}

void RegisterCounts(const std::string& prefix, const Document& (*doc)(), int iterations) {
    using Counter = void (*)(benchmark::State&, const Document&);
    for (const auto& [column, counter] :
         std::vector<std::pair<const char*, Counter>>{{"kel", CountKel}, {"raw_sax", CountSax}, {"raw", CountDom}}) {
        auto* b = Register(prefix + "/" + column, [doc, counter = counter](benchmark::State& state) {
            const Document& d = doc();
            counter(state, d);
        });
        if (iterations > 0) b->Iterations(iterations);
    }
}

}  // namespace

void RegisterLoad() {
    RegisterCounts("count_file_1MB", Records1MB, 0);
    RegisterCounts("count_file_50MB", Records50MB, 3);
    RegisterLoads("load_file_1MB", Records1MB, false, false, 0);
    RegisterLoads("load_memory_1MB", Records1MB, true, false, 0);
    RegisterLoads("load_file_50MB", Records50MB, false, false, 3);
    // Per-load set-up: 10,000 loads of the 1 KB configuration per measurement.
    RegisterLoads("small_load_memory_1KB", Config, true, true, 10000);
    RegisterLoads("small_load_file_1KB", Config, false, true, 10000);
}

}  // namespace bench
