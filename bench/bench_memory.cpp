// Memory: peak resident size while loading the 50 MB file, growth over a million value reads,
// and growth over 10,000 load-edit-save cycles. Each runs in a child process of its own, so
// that one case's heap does not hide or inflate another's.
#include "Fixtures.h"
#include "Generator.h"

#include <xercesc/util/XMLString.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include <unistd.h>

using namespace xercesc;

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void Print(const char* key, double value) { std::printf("%s %.6f\n", key, value); }

// --- peak <library> <file> -----------------------------------------------------------------
int Peak(const std::string& lib, const char* file) {
    bool ok = false;
    long baseline = 0;
    const auto load = [&](auto&& fn) {
        baseline = RssKb();
        const auto start = Clock::now();
        ok = fn();
        Print("seconds", Since(start));
        Print("peak_kb", static_cast<double>(PeakRssKb()));
        Print("rss_loaded_kb", static_cast<double>(RssKb()));
        Print("baseline_kb", static_cast<double>(baseline));
    };
    if (lib == "kel" || lib == "raw") {
        XML::CKelXML::initXmlAPI();
        {
            if (lib == "kel") {
                XML::CKelXML doc;
                load([&] { return doc.Load(file, false); });
            } else {
                RawParser raw;
                load([&] { return raw.ParseFile(file) != nullptr; });
            }
        }
        XML::CKelXML::TerminateXmlAPI();
    }
#ifdef KELXML_BENCH_PUGIXML
    if (lib == "pugixml") {
        pugi::xml_document doc;
        load([&] { return static_cast<bool>(doc.load_file(file)); });
    }
#endif
#ifdef KELXML_BENCH_TINYXML2
    if (lib == "tinyxml2") {
        tinyxml2::XMLDocument doc;
        load([&] { return doc.LoadFile(file) == tinyxml2::XML_SUCCESS; });
    }
#endif
#ifdef KELXML_BENCH_LIBXML2
    if (lib == "libxml2") {
        xmlDocPtr doc = nullptr;
        load([&] { return (doc = xmlReadFile(file, nullptr, XML_PARSE_NONET)) != nullptr; });
        xmlFreeDoc(doc);
    }
#endif
    return ok ? 0 : 1;
}

// --- reads <kel|raw|raw_textcontent> <file> ------------------------------------------------
constexpr long kReads = 1000000;

int Reads(const std::string& variant, const char* file) {
    XML::CKelXML::initXmlAPI();
    long sum = 0;
    {
        XML::CKelXML doc;
        RawParser raw;
        DOMDocument* d = nullptr;
        if (variant == "kel") {
            if (!doc.Load(file, false)) return 1;
            d = doc.GetDocument();
        } else {
            d = raw.ParseFile(file);
        }
        const XName xcount("Count"), xid("id");
        const DOMElement* rec = RawRecords(d).at(0);
        const DOMElement* count = RawFirstDescendant(rec, xcount);
        // Element text, an attribute and a child value: the three reads a program repeats.
        std::function<void()> read;
        if (variant == "kel") {
            read = [&] {
                std::string text;
                int id = 0, value = 0;
                XML::CKelXML::GetValue(count, text);
                XML::CKelXML::GetAttributeValue(rec, "id", id);
                XML::CKelXML::GetChildValue(rec, "Count", value);
                sum += static_cast<long>(text.size()) + id + value;
            };
        } else if (variant == "raw") {
            read = [&] {
                const std::string text = RawText(count);
                char* s = XMLString::transcode(rec->getAttributeNode(xid)->getValue());
                const int id = std::atoi(s);
                XMLString::release(&s);
                const int value = std::atoi(RawText(RawFirstDescendant(rec, xcount)).c_str());
                sum += static_cast<long>(text.size()) + id + value;
            };
        } else {  // the DOM's getTextContent, which copies into the document's own heap
            read = [&] {
                const std::string text = RawLocal(count->getTextContent());
                char* s = XMLString::transcode(rec->getAttributeNode(xid)->getValue());
                const int id = std::atoi(s);
                XMLString::release(&s);
                const int value = std::atoi(RawLocal(RawFirstDescendant(rec, xcount)->getTextContent()).c_str());
                sum += static_cast<long>(text.size()) + id + value;
            };
        }
        for (int i = 0; i < 1000; ++i) read();
        const long before = RssKb();
        const auto start = Clock::now();
        for (long i = 0; i < kReads; ++i) read();
        Print("seconds", Since(start));
        const long after = RssKb();
        Print("rss_before_kb", static_cast<double>(before));
        Print("rss_after_kb", static_cast<double>(after));
        Print("growth_kb", static_cast<double>(after - before));
        Print("reads", static_cast<double>(kReads));
    }
    Print("checksum", static_cast<double>(sum % 1000));
    XML::CKelXML::TerminateXmlAPI();
    return 0;
}

// --- cycles <kel|kel_fresh> <file> <count> <output> ----------------------------------------
int Cycles(const std::string& variant, const char* file, long cycles, const char* output) {
    XML::CKelXML::initXmlAPI();
    long at100 = 0, at1000 = 0;
    const auto start = Clock::now();
    {
        XML::CKelXML kept;
        for (long i = 1; i <= cycles; ++i) {
            XML::CKelXML fresh;
            XML::CKelXML& doc = variant == "kel" ? kept : fresh;
            if (!doc.Load(file, false)) return 1;
            DOMNode* root = doc.GetRootNode("Config");
            DOMElement* extra = doc.AddNewElementNode("Extra", "cycle " + std::to_string(i), root);
            doc.AddNewAttribute("n", std::to_string(i), extra);
            doc.ModifyAttribute("n", std::to_string(i * 2), extra);
            DOMNode* paths = XML::CKelXML::GetFirstSubNode(root, "Paths");
            if (DOMNode* path = XML::CKelXML::GetFirstSubNode(paths, "Path")) {
                if (DOMNode* removed = doc.RemoveChildNode(paths, path)) removed->release();
            }
            if (!doc.Save(output, false)) return 1;
            if (i == 100) at100 = RssKb();
            if (i == 1000) at1000 = RssKb();
        }
    }
    Print("seconds", Since(start));
    const long end = RssKb();
    Print("rss_at_100_kb", static_cast<double>(at100));
    Print("rss_at_1000_kb", static_cast<double>(at1000));
    Print("rss_end_kb", static_cast<double>(end));
    Print("growth_kb", static_cast<double>(end - at100));
    Print("cycles", static_cast<double>(cycles));
    ::unlink(output);
    XML::CKelXML::TerminateXmlAPI();
    return 0;
}

// --- walk stream|load_loop <file> -------------------------------------------------------------
// The records of a record file, walked while it streams (StreamElements) or after a Load
// (LoopElements), with the same functor: time, throughput and peak resident size.
int Walk(const std::string& how, const char* file) {
    XML::CKelXML::initXmlAPI();
    {
        SumFunctor functor;
        std::string names[] = {"id", "mask", "weight"};
        XML::CKelXML doc;
        const long baseline = RssKb();
        const auto start = Clock::now();
        const std::clock_t cpuStart = std::clock();
        bool ok = false;
        if (how == "stream") {
            ok = doc.StreamElements(file, false, &functor, "Catalog\\Records\\Record", names, 3, nullptr, false, false,
                                    false);
        } else {
            ok = doc.Load(file, false) &&
                 XML::CKelXML::LoopElements(&functor, doc.GetRootNode("Catalog"), "Records\\Record", names, 3, nullptr,
                                            false, false, false);
        }
        const double seconds = Since(start);
        // CPU time too: on a shared machine it is what other work disturbs least.
        const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        if (!ok) throw std::runtime_error(how + " walk failed on " + file);
        std::FILE* f = std::fopen(file, "rb");
        long size = 0;
        if (f) {
            std::fseek(f, 0, SEEK_END);
            size = std::ftell(f);
            std::fclose(f);
        }
        Print("seconds", seconds);
        Print("mb_per_s", static_cast<double>(size) / (1 << 20) / seconds);
        Print("mb_per_cpu_s", static_cast<double>(size) / (1 << 20) / cpuSeconds);
        Print("peak_kb", static_cast<double>(PeakRssKb()));
        Print("baseline_kb", static_cast<double>(baseline));
        Print("checksum", static_cast<double>(functor.sum));
    }
    XML::CKelXML::TerminateXmlAPI();
    return 0;
}

void Child(benchmark::State& state, std::vector<std::string> args) {
    std::map<std::string, double> values;
    for (auto _ : state) {
        try {
            values = RunChild(args);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
        state.SetIterationTime(values["seconds"]);
    }
    for (const auto& [key, value] : values)
        if (key != "seconds" && key != "checksum") state.counters[key] = value;
}

}  // namespace

int ChildMain(int argc, char** argv) {
    try {
        const std::string mode = argc > 0 ? argv[0] : "";
        if (mode == "peak" && argc == 3) return Peak(argv[1], argv[2]);
        if (mode == "walk" && argc == 3) return Walk(argv[1], argv[2]);
        if (mode == "reads" && argc == 3) return Reads(argv[1], argv[2]);
        if (mode == "cycles" && argc == 5) return Cycles(argv[1], argv[2], std::atol(argv[3]), argv[4]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: --child peak|walk|reads|cycles ...\n");
    return 2;
}

void RegisterMemory() {
    std::vector<std::string> libs = {"kel", "raw"};
    for (const Column& c : kColumns)
        if (c.other && c.built) libs.push_back(c.name);
    for (const std::string& lib : libs)
        Register("memory_peak_load_50MB/" + lib,
                 [lib](benchmark::State& state) {
                     Child(state, {"peak", lib, Records50MB().path});
                 })
            ->UseManualTime()
            ->Iterations(1);
    // Streaming against loading: the 2 GB file only with KELXML_BENCH_2GB=1 (written into the data
    // folder first, about 2 GB of disk), and only streamed: loaded it would need some 40 GB.
    std::vector<std::pair<std::string, std::function<std::string()>>> walks = {
        {"1MB", [] { return Records1MB().path; }}, {"50MB", [] { return Records50MB().path; }}};
    if (const char* big = std::getenv("KELXML_BENCH_2GB"); big && std::strcmp(big, "1") == 0)
        walks.emplace_back("2GB", [] {
            std::size_t records = 0;
            return EnsureRecordsFile("records-2g.xml", std::size_t{2000} << 20, records);
        });
    for (const auto& [size, file] : walks)
        for (const char* how : {"stream", "load_loop"}) {
            if (size == "2GB" && std::strcmp(how, "load_loop") == 0) continue;
            Register("memory_walk_" + size + "/" + how,
                     [how, file = file](benchmark::State& state) {
                         Child(state, {"walk", how, file()});
                     })
                ->UseManualTime()
                ->Iterations(1);
        }
    for (const char* variant : {"kel", "raw", "raw_textcontent"})
        Register(std::string("memory_million_reads/") + variant,
                 [variant](benchmark::State& state) {
                     Child(state, {"reads", variant, Records1MB().path});
                 })
            ->UseManualTime()
            ->Iterations(1);
    // The saves of the cycles go to memory-backed storage when there is some: each one is
    // flushed to disk (fsync), which on a disk takes milliseconds and would measure the disk.
    const std::string saveDir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : DataDir();
    for (const char* variant : {"kel", "kel_fresh"})
        Register(std::string("memory_10000_load_edit_save/") + variant,
                 [variant, saveDir](benchmark::State& state) {
                     Child(state, {"cycles", variant, Config().path, "10000",
                                   saveDir + "/kelxml-bench-cycles-" + variant + ".xml"});
                 })
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(1);
}

}  // namespace bench
