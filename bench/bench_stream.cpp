// Streaming over the 1 MB and 50 MB record files (and 2 GB with KELXML_BENCH_2GB=1, memory run
// only): counting the Record elements (GetNbElementsInFile) and reading three attributes and the
// text of every record (StreamRecords, no node built), next to a raw SAX2 handler with the same settings doing
// the same work and to libxml2's xmlTextReader.
#include "BenchSupport.h"

#include "XML/CKelXML.h"
#include "XML/TFunctor.h"

#include <libxml/xmlreader.h>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/TransService.hpp>

#include <cstdlib>
#include <cstring>
#include <iterator>

using namespace xercesc;

namespace bench {
namespace {

// What every column does with a record: touches its text and the three values.
struct Sum {
    void operator()(const std::string& text, const std::string* values) {
        sum += static_cast<long>(text.size()) + std::atol(values[0].c_str()) +
               static_cast<long>(values[1].size() + values[2].size());
        ++records;
    }
    long sum = 0;
    std::size_t records = 0;
};

struct KelSum : XML::TFunctor {
    bool operator()(DOMNode*, std::string, std::string text, std::string* values, void*) override {
        sum(text, values);
        return true;
    }
    Sum sum;
};

std::string Utf8(const XMLCh* text, XMLSize_t length) {
    const TranscodeToStr utf8(text, length, "UTF-8");
    return std::string(reinterpret_cast<const char*>(utf8.str()), utf8.length());
}

// The SAX2 side of both cases: counts the Record elements below the root and, when reading,
// gathers the attributes and the text of each Catalog/Records/Record.
struct SaxRecords : DefaultHandler {
    void startElement(const XMLCh*, const XMLCh*, const XMLCh* qname, const Attributes& attributes) override {
        if (++depth < 2 || !XMLString::equals(qname, record)) return;
        ++count;
        if (!read || depth != 3) return;
        inRecord = true;
        text.clear();
        for (int i = 0; i < 3; ++i) {
            const XMLCh* value = attributes.getValue(names[i]);
            values[i] = value ? Utf8(value, XMLString::stringLen(value)) : std::string();
        }
    }
    void endElement(const XMLCh*, const XMLCh*, const XMLCh*) override {
        if (depth-- == 3 && inRecord) {
            inRecord = false;
            sum(Utf8(text.data(), text.size()), values);
        }
    }
    void characters(const XMLCh* chars, const XMLSize_t length) override {
        if (inRecord) text.append(chars, length);
    }
    bool read = false;
    const XName record{"Record"}, id{"id"}, mask{"mask"}, weight{"weight"};
    const XMLCh* names[3] = {id, mask, weight};
    int depth = 0;
    bool inRecord = false;
    std::basic_string<XMLCh> text;
    std::string values[3];
    std::size_t count = 0;
    Sum sum;
};

MakeOp Sax(bool read) {
    return [read](const Input& in) -> Op {
        struct Reader {
            SecurityManager security;
            std::unique_ptr<SAX2XMLReader> reader{XMLReaderFactory::createXMLReader()};
        };
        auto r = std::make_shared<Reader>();
        r->reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
        r->reader->setFeature(XMLUni::fgSAX2CoreValidation, true);
        r->reader->setFeature(XMLUni::fgXercesDynamic, true);
        r->reader->setFeature(XMLUni::fgXercesSchema, true);
        r->reader->setFeature(XMLUni::fgXercesSchemaFullChecking, true);
        r->reader->setProperty(XMLUni::fgXercesSecurityManager, &r->security);
        return [r, read, &in] {
            SaxRecords handler;
            handler.read = read;
            r->reader->setContentHandler(&handler);
            r->reader->setErrorHandler(&handler);
            r->reader->parse(in.path.c_str());
            return handler.count == in.records && (!read || handler.sum.records == in.records);
        };
    };
}

MakeOp Reader(bool read) {
    return [read](const Input& in) -> Op {
        return [read, &in] {
            xmlTextReaderPtr reader = xmlReaderForFile(in.path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
            std::size_t count = 0;
            Sum sum;
            int status = xmlTextReaderRead(reader);
            while (status == 1) {
                if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT || xmlTextReaderDepth(reader) < 1 ||
                    std::strcmp(reinterpret_cast<const char*>(xmlTextReaderConstLocalName(reader)), "Record") != 0) {
                    status = xmlTextReaderRead(reader);
                    continue;
                }
                ++count;
                if (!read || xmlTextReaderDepth(reader) != 2) {
                    status = xmlTextReaderRead(reader);
                    continue;
                }
                std::string values[3];
                const char* names[3] = {"id", "mask", "weight"};
                for (int i = 0; i < 3; ++i)
                    if (xmlChar* value = xmlTextReaderGetAttribute(reader, BAD_CAST names[i])) {
                        values[i] = reinterpret_cast<const char*>(value);
                        xmlFree(value);
                    }
                xmlChar* text = xmlNodeGetContent(xmlTextReaderExpand(reader));
                sum(text ? reinterpret_cast<const char*>(text) : "", values);
                xmlFree(text);
                status = xmlTextReaderNext(reader);  // past the record, whose subtree was read
            }
            xmlFreeTextReader(reader);
            return status == 0 && count == in.records;
        };
    };
}

const std::pair<const char*, MakeOp> kCount[] = {
    {"kel",
     [](const Input& in) -> Op {
         auto doc = std::make_shared<XML::CKelXML>();
         return [doc, &in] {
             unsigned long count = 0;
             return doc->GetNbElementsInFile(in.path.c_str(), false, "Record", count) && count == in.records;
         };
     }},
    {"raw_sax", Sax(false)},
    {"libxml2_reader", Reader(false)},
};

const std::pair<const char*, MakeOp> kAttributes[] = {
    {"kel",
     [](const Input& in) -> Op {
         auto doc = std::make_shared<XML::CKelXML>();
         return [doc, &in] {
             KelSum functor;
             std::string names[] = {"id", "mask", "weight"};
             XML::sWalkOptions walk;
             walk.strPath = "Catalog\\Records\\Record";
             walk.vAttributes.assign(std::begin(names), std::end(names));
             return doc->StreamRecords(in.path.c_str(), {}, &functor, walk, true) && functor.sum.records == in.records;
         };
     }},
    {"raw_sax", Sax(true)},
    {"libxml2_reader", Reader(true)},
};

}  // namespace

void RegisterStream() {
    const char* big = std::getenv("KELXML_BENCH_2GB");
    for (const unsigned mb : {1u, 50u, 2000u}) {
        if (mb == 2000 && !(big && std::strcmp(big, "1") == 0)) continue;
        const std::string size = mb == 2000 ? "2GB" : std::to_string(mb) + "MB";
        const InputOf input = [mb]() -> const Input& { return Records(mb, false); };
        for (const auto& [column, make] : kCount)
            Add("stream_count_" + size, column, input, make, mb == 2000 ? kMemory : kTimeAndMemory);
        for (const auto& [column, make] : kAttributes)
            Add("stream_attributes_" + size, column, input, make, mb == 2000 ? kMemory : kTimeAndMemory);
    }
}

}  // namespace bench
