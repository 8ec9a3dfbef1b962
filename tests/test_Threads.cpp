// Threads: each thread with its own objects loads, reads, edits, saves and loads again, many
// times, and finds exactly what it wrote; a list of documents checked on several threads gives
// what checking them one by one gives. CI runs it under ThreadSanitizer too (kelxml_thread_tests).
#include "TestSupport.h"

#include <atomic>
#include <stdexcept>
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
