// Threads: each thread with its own objects loads, reads, edits, saves and loads again, many
// times, and finds exactly what it wrote; what threads share (one compiled XPath expression, one
// grammar cache) gives each the same results as alone, and a list of documents checked on several
// threads gives what checking them one by one gives. CI runs these under ThreadSanitizer too
// (kelxml_thread_tests).
#include "TestSupport.h"

#include <XML/CXPath.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <xercesc/dom/DOM.hpp>

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

// One compiled expression, several threads, two at a time on each document (whose index the
// first evaluation builds while the other reads it or walks the tree).
TEST(XPath, OneExpressionServesSeveralThreads) {
    const XML::CXPath query("count(//v[. > 2]) + sum(//v[last()]) + count(//v/following::v)");
    std::vector<std::unique_ptr<Loaded>> docs;
    std::vector<double> results(8, -1);
    for (int t = 0; t < 4; ++t) {
        std::string text = "<r>";
        for (int i = 0; i < 500 * (t + 1); ++i) text += "<a><v>" + std::to_string(i % 5) + "</v></a>";
        docs.push_back(std::make_unique<Loaded>(text + "</r>"));
    }
    std::vector<std::thread> threads;
    std::atomic<int> waiting{8};
    for (std::size_t t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (--waiting; waiting > 0;) std::this_thread::yield();  // all start at once
            for (double value = 0, round = 0; round < 20; ++round)
                results[t] = query.EvaluateNumber(docs[t % 4]->root, value) && (round == 0 || value == results[t])
                                 ? value
                                 : -2;
        });
    for (std::thread& thread : threads) thread.join();
    for (std::size_t t = 0; t < 8; ++t) EXPECT_EQ(results[t], 500.0 * (t % 4 + 1) * (2.0 / 5 + 2 + 1) - 1) << t;
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

// Records as text, to compare one check with another.
std::string Shown(bool valid, const std::vector<XML::sError>& records) {
    std::string shown = valid ? "valid" : "invalid";
    for (const XML::sError& record : records) shown += "\n" + std::to_string(record.eType) + " " + record.strMessage;
    return shown;
}

TEST(Threads, ValidateFilesGivesWhatOneByOneGives) {
    kelxml_test::TempDir dir;
    const std::string folder = dir.path() + "/";
    kelxml_test::WriteFile(folder + "v.xsd",
                           "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' "
                           "targetNamespace='urn:v'><xs:element name='v' type='xs:int'/></xs:schema>");
    const std::vector<std::string> bodies = {"<v xmlns='urn:v'>1</v>", "<v xmlns='urn:v'>x</v>", "<v xmlns='urn:v'>2",
                                             "<w xmlns='urn:v'/>"};
    std::vector<std::string> files;
    for (std::size_t i = 0; i < bodies.size(); ++i) kelxml_test::WriteFile(folder + std::to_string(i), bodies[i]);
    for (int round = 0; round < 30; ++round)
        for (std::size_t i = 0; i <= bodies.size(); ++i)
            files.push_back(folder + std::to_string(i));  // the last absent
    XML::sLoadOptions options;
    options.eMode = XML::E_LOAD_NAMED_GRAMMARS;
    options.vSchemas = {{"urn:v", folder + "v.xsd"}};
    std::vector<std::string> expected;
    for (const std::string& file : files) {
        XML::CKelXML one;
        const bool valid = one.Validate(file.c_str(), options);
        expected.push_back(Shown(valid, one.GetErrors()->GetAllErrors()));
    }
    for (const std::size_t threads : {1, 2, 4}) {
        options.pGrammarCache = std::make_shared<XML::CGrammarCache>();
        XML::sBatchOptions batch;
        batch.nThreads = threads;
        std::vector<XML::sFileResult> results;
        EXPECT_FALSE(XML::CKelXML::ValidateFiles(files, options, batch, results));
        ASSERT_EQ(results.size(), files.size());
        for (std::size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(Shown(results[i].bValid, results[i].vErrors), expected[i]) << threads << " threads, " << files[i];
        EXPECT_EQ(options.pGrammarCache->GetParseCount(), 1u) << threads << " threads";
    }
    // A failing callback stops the handing out of files (on one thread: none after it) and reaches
    // the caller once every thread is joined.
    for (const std::size_t threads : {1, 2}) {
        std::atomic<std::size_t> calls{0};
        XML::sBatchOptions batch;
        batch.nThreads = threads;
        EXPECT_THROW(XML::CKelXML::ForEachFile(files, batch,
                                               [&](std::size_t index, XML::CKelXML&) {
                                                   ++calls;
                                                   if (index == 3) throw std::runtime_error("stop");
                                               }),
                     std::runtime_error);
        if (threads == 1) {
            EXPECT_EQ(calls.load(), 4u);
        }
    }
}

}  // namespace
