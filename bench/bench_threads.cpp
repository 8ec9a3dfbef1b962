// Member reads on several threads at once, each thread on a document object of its own: what
// the operations share between threads (the library's start-up state) costs them, compared with
// one thread. Wall time, items are reads.
#include "BenchSupport.h"

#include "XML/CKelXML.h"

#include <xercesc/dom/DOM.hpp>

#include <string>

namespace bench {

void RegisterThreads() {
    benchmark::RegisterBenchmark(
        "read_threads/kel",
        [](benchmark::State& state) {
            XML::CKelXML doc;
            const std::string text = "<r><v>" + std::to_string(state.thread_index()) + "</v></r>";
            if (!doc.LoadFromMemory(text.c_str())) {
                state.SkipWithError("the document did not load");
                return;
            }
            int value = -1;
            for (auto _ : state) {
                // GetRootNode checks the library's state; GetChildValue reads the tree.
                const xercesc::DOMNode* root = doc.GetRootNode("r");
                if (!XML::CKelXML::GetChildValue(root, "v", value) || value != state.thread_index()) {
                    state.SkipWithError("wrong value read");
                    break;
                }
            }
            state.SetItemsProcessed(state.iterations());
        })
        ->Threads(1)
        ->Threads(2)
        ->UseRealTime();
}

}  // namespace bench
