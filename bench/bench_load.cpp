// Loading the 1 MB and 20 MB record files, from disk and from memory, one object (parser) kept
// for every load or a new one per load: the library next to the raw DOM parser with the load's
// settings, and the other libraries for context. On the 20 MB file from memory, the ladder: the
// raw parser with each layer the library adds to it, one at a time.
#include "BenchSupport.h"

#include "XML/CKelXML.h"
#include "XML/internal/BlockPool.h"
#include "XML/internal/SourceKeeper.h"

#include <libxml/parser.h>
#include <libxml/xmlreader.h>
#ifdef KELXML_BENCH_PUGIXML
#include <pugixml.hpp>
#endif
#ifdef KELXML_BENCH_TINYXML2
#include <tinyxml2.h>
#endif

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/PlatformUtils.hpp>

namespace bench {
namespace {

bool KelLoad(XML::CKelXML& doc, const Input& in) {
    return in.text.empty() ? doc.Load(in.path.c_str(), false)
                           : doc.Load(static_cast<const void*>(in.text.data()), static_cast<unsigned>(in.text.size()));
}

// The layers of the ladder, each parser with the load's settings (the bounded ones with the
// default limits): memory from the process-wide manager or from a block pool of its own.
struct Layer {
    Layer(const std::string& column, const Input& in) {
        using namespace XML;
        using namespace XML::internal;
        if (column == "raw_nosec") {
            parser = std::make_unique<xercesc::XercesDOMParser>();
        } else if (column == "bounded") {
            parser = std::make_unique<BoundedDOMParser>(nullptr, xercesc::XMLPlatformUtils::fgMemoryManager, nullptr);
        } else if (column == "pooled" || column == "srcofs") {
            parser = std::make_unique<BoundedDOMParser>(nullptr, &pool, nullptr);
            parser->setCalculateSrcOfs(column == "srcofs");
        } else {  // source, notes: the source notes of every load, which count source offsets
            auto bounded = std::make_unique<BoundedDOMParser>(nullptr, &pool, nullptr);
            keeper = std::make_unique<SourceKeeper>(*bounded);
            keeper->Keep(column == "notes");
            bounded->Observe(*keeper);
            parser = std::move(bounded);
        }
        if (auto* bounded = dynamic_cast<BoundedDOMParser*>(parser.get())) bounded->SetLimits(sLimits{}, in.bytes);
        LoadSettings(*parser, errors, column == "raw_nosec" ? nullptr : &security);
    }
    XML::internal::BlockPool pool;  // before the parser: it goes last
    RawErrors errors;
    xercesc::SecurityManager security;
    std::unique_ptr<xercesc::XercesDOMParser> parser;
    std::unique_ptr<XML::internal::SourceKeeper> keeper;  // observes parser: goes first
};

// The columns of a load: kept between loads unless the column makes a new one per load.
const std::pair<const char*, MakeOp> kLoaders[] = {
    {"kel",
     [](const Input& in) -> Op {
         auto doc = std::make_shared<XML::CKelXML>();
         return [doc, &in] { return KelLoad(*doc, in); };
     }},
    {"kel_fresh",
     [](const Input& in) -> Op {
         return [&in] {
             XML::CKelXML doc;
             return KelLoad(doc, in);
         };
     }},
    {"raw",
     [](const Input& in) -> Op {
         auto raw = std::make_shared<RawParser>();
         return [raw, &in] { return raw->Parse(in); };
     }},
    {"raw_fresh", [](const Input& in) -> Op { return [&in] { return RawParser().Parse(in); }; }},
#ifdef KELXML_BENCH_PUGIXML
    {"pugixml",
     [](const Input& in) -> Op {
         auto doc = std::make_shared<pugi::xml_document>();
         return [doc, &in] {
             return static_cast<bool>(in.text.empty() ? doc->load_file(in.path.c_str())
                                                      : doc->load_buffer(in.text.data(), in.text.size()));
         };
     }},
#endif
#ifdef KELXML_BENCH_TINYXML2
    {"tinyxml2",
     [](const Input& in) -> Op {
         auto doc = std::make_shared<tinyxml2::XMLDocument>();
         return [doc, &in] {
             return (in.text.empty() ? doc->LoadFile(in.path.c_str()) : doc->Parse(in.text.data(), in.text.size())) ==
                    tinyxml2::XML_SUCCESS;
         };
     }},
#endif
    {"libxml2",
     [](const Input& in) -> Op {
         return [&in] {
             xmlDocPtr doc = in.text.empty() ? xmlReadFile(in.path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE)
                                             : xmlReadMemory(in.text.data(), static_cast<int>(in.text.size()), "mem",
                                                             nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
             xmlFreeDoc(doc);
             return doc != nullptr;
         };
     }},
    // Every node read once, no tree: what a pass over the document costs libxml2.
    {"libxml2_reader",
     [](const Input& in) -> Op {
         return [&in] {
             xmlTextReaderPtr reader = in.text.empty()
                                           ? xmlReaderForFile(in.path.c_str(), nullptr,
                                                              XML_PARSE_NONET | XML_PARSE_HUGE)
                                           : xmlReaderForMemory(in.text.data(), static_cast<int>(in.text.size()), "mem",
                                                                nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
             int status = 0;
             while ((status = xmlTextReaderRead(reader)) == 1) {
             }
             xmlFreeTextReader(reader);
             return status == 0;
         };
     }},
};

}  // namespace

void RegisterLoad() {
    for (const unsigned mb : {1u, 20u})
        for (const bool inMemory : {false, true}) {
            const std::string name = std::string(inMemory ? "load_memory_" : "load_file_") + std::to_string(mb) + "MB";
            const InputOf input = [mb, inMemory]() -> const Input& { return Records(mb, inMemory); };
            // Peak memory of a file load: a tree per library, the same whatever the source.
            for (const auto& [column, make] : kLoaders)
                Add(name, column, input, make,
                    inMemory || std::string(column).find("_fresh") != std::string::npos ? kTime : kTimeAndMemory);
            if (mb != 20 || !inMemory) continue;
            for (const char* column : {"raw_nosec", "bounded", "pooled", "srcofs", "source", "notes"})
                Add(name, column, input, [column = std::string(column)](const Input& in) -> Op {
                    auto layer = std::make_shared<Layer>(column, in);
                    return [layer, &in] { return Parse(*layer->parser, layer->errors, in); };
                });
        }
}

}  // namespace bench
