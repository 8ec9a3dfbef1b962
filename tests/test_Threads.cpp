// Threads: each thread with its own objects loads, reads, edits, saves and loads again, many
// times, and finds exactly what it wrote. CI runs it under ThreadSanitizer too
// (kelxml_thread_tests).
#include "TestSupport.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

// One thread's rounds of load (memory), read, edit, save, load (file); returns the mismatches.
int Work(int thread, int rounds, const std::string& folder) {
    int mismatches = 0;
    const std::string file = folder + "/t" + std::to_string(thread) + ".xml";
    for (int round = 0; round < rounds; ++round) {
        const std::string id = std::to_string(thread) + "-" + std::to_string(round);
        XML::CKelXML doc, again;
        std::string value;
        int read = -1;
        mismatches += !kelxml_test::LoadText(doc, "<r n='" + id + "'><item>" + id + "</item><item>&#98;</item></r>");
        xercesc::DOMElement* root = doc.GetDocument() ? doc.GetDocument()->getDocumentElement() : nullptr;
        mismatches += !XML::CKelXML::GetAttributeValue(root, "n", value) || value != id;
        mismatches += !XML::CKelXML::GetChildValue(root, "item", value) || value != id;
        mismatches += !doc.AddChildNodeValue(root, "round", static_cast<unsigned>(round));
        mismatches += !doc.Save(file.c_str(), round % 2 == 0) || !again.Load(file.c_str(), false);
        root = again.GetDocument() ? again.GetDocument()->getDocumentElement() : nullptr;
        mismatches += !XML::CKelXML::GetChildValue(root, "round", read) || read != round;
    }
    return mismatches;
}

TEST(Threads, OwnObjectsPerThreadNeverMix) {
    kelxml_test::TempDir dir;
    for (const int threads : {1, 2, 4, 8}) {
        std::atomic<int> mismatches{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) workers.emplace_back([&, t] { mismatches += Work(t, 40, dir.path()); });
        for (std::thread& worker : workers) worker.join();
        EXPECT_EQ(mismatches.load(), 0) << threads << " threads";
    }
}

}  // namespace
