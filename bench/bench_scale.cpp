// Scaling: every walk over one element with 10k, 40k and 160k children. The time per child
// must stay flat; a walk by child index would grow with the number of children.
#include "Fixtures.h"

#include <xercesc/util/XMLString.hpp>

#include <map>

using namespace xercesc;

namespace bench {
namespace {

const std::size_t kSizes[] = {10000, 40000, 160000};
std::string kNames[3] = {"id", "mask", "active"};

void PerChild(benchmark::State& state, std::size_t children) {
    state.counters["ns_per_child"] = benchmark::Counter(static_cast<double>(state.iterations() * children) / 1e9,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["children"] = static_cast<double>(children);
}

struct Walk {
    const char* name;
    void (*kel)(benchmark::State&, KelDoc&);
    void (*raw)(benchmark::State&, RawDoc&);
};

const Walk kWalks[] = {
    {"count_recursive",
     [](benchmark::State& state, KelDoc& k) {
         for (auto _ : state) {
             unsigned count = 0;
             XML::CKelXML::GetNbChildInNode(k.root, "Item", count);
             benchmark::DoNotOptimize(count);
         }
     },
     [](benchmark::State& state, RawDoc& r) {
         const XName item("Item");
         for (auto _ : state) benchmark::DoNotOptimize(RawCountBelow(r.root, item));
     }},
    {"count_direct",
     [](benchmark::State& state, KelDoc& k) {
         for (auto _ : state) {
             unsigned count = 0;
             XML::CKelXML::GetNbChildInNodeWithoutRecursive(k.root, "Item", count);
             benchmark::DoNotOptimize(count);
         }
     },
     [](benchmark::State& state, RawDoc& r) {
         const XName item("Item");
         for (auto _ : state) benchmark::DoNotOptimize(RawCountChildren(r.root, item));
     }},
    {"first_sub_node",
     [](benchmark::State& state, KelDoc& k) {
         for (auto _ : state) benchmark::DoNotOptimize(XML::CKelXML::GetFirstSubNode(k.root, "Last"));
     },
     [](benchmark::State& state, RawDoc& r) {
         const XName last("Last");
         for (auto _ : state) benchmark::DoNotOptimize(RawFirstChild(r.root, last));
     }},
    {"first_node",
     [](benchmark::State& state, KelDoc& k) {
         for (auto _ : state) benchmark::DoNotOptimize(XML::CKelXML::GetFirstNode(k.root, "Last"));
     },
     [](benchmark::State& state, RawDoc& r) {
         const XName last("Last");
         for (auto _ : state) benchmark::DoNotOptimize(RawFirstDescendant(r.root, last));
     }},
    {"loop_elements",
     [](benchmark::State& state, KelDoc& k) {
         SumFunctor f;
         for (auto _ : state) XML::CKelXML::LoopElements(&f, k.root, "Item", kNames, 3, nullptr, false, false, false);
         benchmark::DoNotOptimize(f.sum);
     },
     [](benchmark::State& state, RawDoc& r) {
         const XName item("Item"), id("id"), mask("mask"), active("active");
         const XMLCh* names[3] = {id, mask, active};
         SumFunctor f;
         for (auto _ : state) RawLoop(f, r.root, nullptr, item, "Item", names, 3);
         benchmark::DoNotOptimize(f.sum);
     }},
    {"dictionary",
     [](benchmark::State& state, KelDoc& k) {
         for (auto _ : state) {
             std::map<std::string, std::string> dict;
             XML::CKelXML::o_GetDictionaryFromNode(k.root, dict);
             benchmark::DoNotOptimize(dict);
         }
     },
     [](benchmark::State& state, RawDoc& r) {
         for (auto _ : state) {
             std::map<std::string, std::string> dict;
             RawDictionary(r.root, dict);
             benchmark::DoNotOptimize(dict);
         }
     }},
    {"array_of_values",
     [](benchmark::State& state, KelDoc& k) {
         for (auto _ : state) {
             std::vector<std::string> values;
             XML::CKelXML::GetArrayOfTagValues(k.root, "Item", values);
             benchmark::DoNotOptimize(values);
         }
     },
     [](benchmark::State& state, RawDoc& r) {
         const XName item("Item");
         for (auto _ : state) {
             std::vector<std::string> values;
             RawElementsBelow(r.root, [&](const DOMNode* n) {
                 if (!XMLString::equals(n->getNodeName(), item)) return;
                 std::string text = RawText(n);
                 if (!text.empty()) values.push_back(std::move(text));
             });
             benchmark::DoNotOptimize(values);
         }
     }},
    {"element_text",
     [](benchmark::State& state, KelDoc& k) {
         for (auto _ : state) {
             std::string text;
             XML::CKelXML::GetValue(k.root, text);
             benchmark::DoNotOptimize(text);
         }
     },
     [](benchmark::State& state, RawDoc& r) {
         for (auto _ : state) benchmark::DoNotOptimize(RawText(r.root));
     }},
};

}  // namespace

void RegisterScale() {
    for (const Walk& w : kWalks)
        for (std::size_t n : kSizes) {
            const std::string base = std::string("scale_") + w.name + "/" + std::to_string(n / 1000) + "k/";
            Register(base + "kel", [w, n](benchmark::State& state) {
                w.kel(state, KelWide(n));
                PerChild(state, n);
            });
            RegisterRaw(base.substr(0, base.size() - 1), [w, n](benchmark::State& state) {
                w.raw(state, RawWide(n));
                PerChild(state, n);
            });
        }
}

}  // namespace bench
