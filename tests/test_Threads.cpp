// Threads: each thread with its own objects loads, reads, edits, saves and loads again, many
// times, and finds exactly what it wrote; what threads share (one compiled XPath expression, one
// grammar cache) gives each the same results as alone. CI runs these under ThreadSanitizer too
// (kelxml_thread_tests).
#include "TestSupport.h"

#include <XML/CXPath.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace kelxml_test;

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
        mismatches += !LoadText(doc, "<r n='" + id + "'><item>" + id + "</item><item>&#98;</item></r>");
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

// One compiled expression, several threads, each on a document of its own.
TEST(XPath, OneExpressionServesSeveralThreads) {
    const XML::CXPath query("count(//v[. > 2]) + sum(//v[last()]) + count(//v/following::v)");
    std::vector<std::unique_ptr<Loaded>> docs;
    std::vector<double> results(4, -1);
    for (int t = 0; t < 4; ++t) {
        std::string text = "<r>";
        for (int i = 0; i < 50 * (t + 1); ++i) text += "<a><v>" + std::to_string(i % 5) + "</v></a>";
        docs.push_back(std::make_unique<Loaded>(text + "</r>"));
    }
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (double value = 0, round = 0; round < 20; ++round)
                results[t] = query.EvaluateNumber(docs[t]->root, value) && (round == 0 || value == results[t]) ? value
                                                                                                               : -2;
        });
    for (std::thread& thread : threads) thread.join();
    for (std::size_t t = 0; t < 4; ++t) EXPECT_EQ(results[t], 50.0 * (t + 1) * (2.0 / 5 + 2 + 1) - 1) << t;
}

TEST(GrammarCache, OneGrammarSharedByThreads) {
    const Grammars dir;
    auto cache = std::make_shared<XML::CGrammarCache>();
    const XML::sLoadOptions schemas = Named(dir, "urn:a=a.xsd urn:b=b.xsd", cache);
    const XML::sLoadOptions dtd = Named(dir, "dtd=list.dtd", cache);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            XML::CKelXML doc;
            for (int i = 0; i < 40; ++i) {
                const bool valid = (i + t) % 2 == 0;
                wrong += Load(doc,
                              std::string("<doc xmlns='urn:a'><part xmlns='urn:b'>") + (valid ? "7" : "-7") +
                                  "</part></doc>",
                              schemas) != valid;
                const bool loaded = Load(doc,
                                         std::string("<!DOCTYPE list SYSTEM 'x.dtd'><list><entry>a</entry>") +
                                             (valid ? "" : "<other/>") + "</list>",
                                         dtd);
                wrong += (valid ? Verdict(doc, loaded, "ok", "kind=one") == "ok" : !loaded) ? 0 : 1;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(cache->GetParseCount(), 2u);
}

}  // namespace
