// Threads: one initXmlAPI, then each thread with its own objects loads, reads, edits, saves
// and loads again, many times, and finds exactly what it wrote. CI runs it under
// ThreadSanitizer too (kelxml_thread_tests).
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// One thread's work: rounds of load (memory), read, edit, save, load (file), check.
// Returns the number of mismatches.
int Work(int thread, int rounds, const std::string& folder) {
    int mismatches = 0;
    const std::string file = folder + "/t" + std::to_string(thread) + ".xml";
    for (int round = 0; round < rounds; ++round) {
        const std::string id = std::to_string(thread) + "-" + std::to_string(round);
        const std::string text = "<r n='" + id + "'><item v='1'>" + id + "</item><item v='2'>&#98;</item></r>";
        XML::CKelXML doc;
        if (!kelxml_test::LoadText(doc, text)) {
            ++mismatches;
            continue;
        }
        xercesc::DOMElement* root = doc.GetDocument()->getDocumentElement();
        std::string value;
        unsigned count = 0;
        mismatches += !XML::CKelXML::GetAttributeValue(root, "n", value) || value != id;
        mismatches += !XML::CKelXML::GetChildValue(root, "item", value) || value != id;
        mismatches += !XML::CKelXML::GetNbChildInNode(root, "item", count) || count != 2;
        mismatches += !doc.AddChildNodeValue(root, "round", static_cast<unsigned>(round));
        mismatches += !doc.Save(file.c_str(), round % 2 == 0);
        XML::CKelXML again;
        if (!again.Load(file.c_str(), false)) {
            ++mismatches;
            continue;
        }
        int read = -1;
        root = again.GetDocument()->getDocumentElement();
        mismatches += !XML::CKelXML::GetChildValue(root, "round", read) || read != round;
        mismatches += !XML::CKelXML::GetNbChildInNode(root, "item", count) || count != 2;
    }
    return mismatches;
}

TEST(Threads, OwnObjectsPerThreadNeverMix) {
    kelxml_test::TempDir dir;
    for (const int threads : {1, 2, 4, 8}) {
        SCOPED_TRACE(threads);
        std::atomic<int> mismatches{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) workers.emplace_back([&, t] { mismatches += Work(t, 40, dir.path()); });
        for (std::thread& worker : workers) worker.join();
        EXPECT_EQ(mismatches.load(), 0);
    }
}

}  // namespace
