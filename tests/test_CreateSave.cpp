// Creating documents, saving them to what the process stands on, and the object's ownership.
#include "TestSupport.h"

#include <functional>

#include <fcntl.h>

#include <xercesc/dom/DOM.hpp>

using namespace kelxml_test;

TEST(Save, WhatIsMissingIsRecorded) {
    TempDir dir;
    XML::CKelXML doc;
    EXPECT_FALSE(doc.Save(dir.File("none.xml").c_str(), false));
    EXPECT_EQ(Dump(doc), "4: DOMDOCUMENT undefined\n");
    ASSERT_TRUE(doc.CreateDoc("r"));
    EXPECT_FALSE(doc.Save(nullptr, false));
    EXPECT_FALSE(doc.Save(dir.File("x.xml").c_str(), nullptr, false));
    ASSERT_EQ(Records(doc).size(), 2u);
    for (const XML::sError& r : Records(doc)) EXPECT_EQ(r.eType, XML::E_MISSING);
    EXPECT_TRUE(dir.List().empty());
}

// CreateDoc drops the records of what came before and releases the document it replaces (the leak
// checker sees it); a bad name leaves no document.
TEST(CreateDoc, MakesADocumentOrNone) {
    TempDir dir;
    const std::string file = dir.File("new.xml");
    XML::CKelXML doc;
    ASSERT_FALSE(LoadText(doc, "<a>"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(doc.CreateDoc("settings"));
    EXPECT_EQ(Dump(doc), "");
    ASSERT_TRUE(doc.Save(file.c_str(), false));
    EXPECT_EQ(ReadFile(file), "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n<settings/>\n");
    for (const char* name : {"1bad", "", "a b", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(doc.CreateDoc(name));
        EXPECT_EQ(doc.GetDocument(), nullptr);
        ASSERT_EQ(Records(doc).size(), 1u);
        EXPECT_EQ(Records(doc)[0].eType, name ? XML::E_EXCEPTION : XML::E_MISSING);
        ASSERT_TRUE(LoadText(doc, "<loaded/>"));
        ASSERT_TRUE(doc.CreateDoc("again"));
    }
}

TEST(CKelXML, MovesTransferEverything) {
    XML::CKelXML source, other;
    ASSERT_TRUE(source.CreateDoc("moved") && LoadText(other, "<loaded/>"));
    xercesc::DOMDocument* document = source.GetDocument();
    XML::CKelXML target(std::move(source));
    EXPECT_TRUE(target.GetDocument() == document && !source.GetDocument() && !source.GetErrors());  // NOLINT
    other = std::move(target);  // the loaded document is released, the created one taken over
    EXPECT_EQ(other.GetDocument(), document);
    EXPECT_TRUE(other.Save("/dev/null", false));
}

// A redirected stdout is a regular file: replacing it, or writing it from offset 0, would destroy
// what the program had already written there.
TEST(Save, OwnStreamPathsWriteWhereTheStreamStands) {
    TempDir dir;
    const std::string log = dir.File("log.txt");
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(::write(fd, "before\n", 7), 7);
    XML::CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("streamed"));
    EXPECT_TRUE(doc.Save(("/dev/fd/" + std::to_string(fd)).c_str(), false));
    EXPECT_TRUE(doc.Save(("/proc/self/fd/" + std::to_string(fd)).c_str(), true));
    ::close(fd);
    const std::string text = ReadFile(log);
    EXPECT_EQ(text.rfind("before\n<?xml", 0), 0u) << text;
    EXPECT_NE(text.find("<streamed/>", text.find("<streamed/>") + 1), std::string::npos) << text;
    EXPECT_EQ(dir.List(), std::vector<std::string>{"log.txt"});
}

namespace {

struct Accept : XML::TFunctor {
    bool operator()(xercesc::DOMNode*, std::string, std::string, std::string*, void*) override { return true; }
};

}  // namespace

// Before the library starts, and for an object that outlives its stop: every member operation
// that loads, creates, reads the document or edits adds the record and gives no result, never
// a crash; the object works again in a new run.
TEST(LibraryStart, OperationsOutsideARunAreRefused) {
    const std::string outcome = RunInChild(
        [] {
            XML::CKelXML::TerminateXmlAPI();  // the test program's own start
            XML::CKelXML before, doc;
            if (before.LoadFromMemory("<a/>") || before.CreateDoc("a") || XML::CKelXML::IsXmlAPIStarted())
                return std::string("ran without the library");
            if (Dump(before).find("not started") == std::string::npos) return "no record: " + Dump(before);
            xercesc::DOMElement* a = nullptr;
            xercesc::DOMNode* b = nullptr;
            {
                const XML::CXmlLibrary library;
                if (!library.IsStarted() || !doc.LoadFromMemory("<a x='1'><b/></a>")) return std::string("no load");
                a = doc.GetDocument()->getDocumentElement();
                b = a->getFirstChild();
            }
            Accept accept;
            const auto any = [](xercesc::DOMNode*) {};
            const XML::sWalkOptions walk{"a/b"};
            std::string text;
            double number = 0;
            bool flag = false;
            unsigned long count = 0;
            std::vector<xercesc::DOMNode*> nodes;
        // The deprecated forms are refused as their replacements are.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
            const std::vector<std::pair<std::string, std::function<bool()>>> operations = {
                {"Load", [&] { return doc.Load(KELXML_SAMPLE, false); }},
                {"Load options", [&] { return doc.Load(KELXML_SAMPLE, {XML::E_LOAD_WELL_FORMED}); }},
                {"Load memory", [&] { return doc.Load(static_cast<const void*>("<a/>"), 4); }},
                {"Load memory options", [&] { return doc.Load(static_cast<const void*>("<a/>"), 4, {}); }},
                {"LoadFromMemory", [&] { return doc.LoadFromMemory("<a/>"); }},
                {"LoadFromMemory options", [&] { return doc.LoadFromMemory("<a/>", XML::sLoadOptions{}); }},
                {"LoadFromMemory mode", [&] { return doc.LoadFromMemory("<a/>", XML::E_LOAD_WELL_FORMED); }},
                {"CreateDoc", [&] { return doc.CreateDoc("a"); }},
                {"Save", [&] { return doc.Save("/dev/null", false); }},
                {"Save node", [&] { return doc.Save("/dev/null", b, XML::E_SAVE_AS_LOADED); }},
                {"GetCanonicalXML", [&] { return doc.GetCanonicalXML(b, true, text); }},
                {"SaveCanonicalXML", [&] { return doc.SaveCanonicalXML("/dev/null", false); }},
                {"GetRootNode", [&] { return doc.GetRootNode("a") != nullptr; }},
                {"SelectNodes", [&] { return !doc.SelectNodes("*", a).empty(); }},
                {"SelectNode", [&] { return doc.SelectNode("b") != nullptr; }},
                {"GetXPathString", [&] { return doc.GetXPathString("name(*)", text, a); }},
                {"GetXPathNumber", [&] { return doc.GetXPathNumber("count(*)", number, a); }},
                {"GetXPathBoolean", [&] { return doc.GetXPathBoolean("b", flag, a); }},
                {"XPathNodes", [&] { return doc.XPathNodes(a, "*", nodes); }},
                {"XPathNode", [&] { return doc.XPathNode(nullptr, "a", b); }},
                {"XPathString", [&] { return doc.XPathString(a, "name(*)", text); }},
                {"XPathNumber", [&] { return doc.XPathNumber(a, "count(*)", number); }},
                {"XPathBoolean", [&] { return doc.XPathBoolean(a, "b", flag); }},
                {"AddNewElementNode", [&] { return doc.AddNewElementNode("c", a) != nullptr; }},
                {"AddNewElementNode text", [&] { return doc.AddNewElementNode("c", "t", a) != nullptr; }},
                {"InsertNewElementNodeBefore", [&] { return doc.InsertNewElementNodeBefore(b, "c") != nullptr; }},
                {"InsertNewElementNodeAfter", [&] { return doc.InsertNewElementNodeAfter(b, "c") != nullptr; }},
                {"InsertNewElementNodeAt", [&] { return doc.InsertNewElementNodeAt(a, 0, "c") != nullptr; }},
                {"AddChildNodeValue", [&] { return doc.AddChildNodeValue(a, "c", "t"); }},
                {"AddNewAttribute", [&] { return doc.AddNewAttribute("y", "2", a) != nullptr; }},
                {"ModifyAttribute", [&] { return doc.ModifyAttribute("x", "2", a) != nullptr; }},
                {"RemoveChildNode", [&] { return doc.RemoveChildNode(a, b) != nullptr; }},
                {"AddNewCommentNode", [&] { return doc.AddNewCommentNode(a, "c") != nullptr; }},
                {"AddNewPINode", [&] { return doc.AddNewPINode(a, "t", "d") != nullptr; }},
                {"StreamElements", [&] { return doc.StreamElements(KELXML_SAMPLE, {}, &accept, walk); }},
                {"StreamElements memory",
                 [&] {
                     return doc.StreamElements(static_cast<const void*>("<a/>"), 4, &accept, "a", nullptr, 0, nullptr,
                                               false, false, false);
                 }},
                {"StreamElements callable", [&] { return doc.StreamElements(KELXML_SAMPLE, {}, walk, any); }},
                {"StreamRecords", [&] { return doc.StreamRecords(KELXML_SAMPLE, {}, &accept, walk, true); }},
                {"StreamRecords memory",
                 [&] { return doc.StreamRecords(static_cast<const void*>("<a/>"), 4, {}, &accept, walk, true); }},
                {"StreamRecordsFromMemory",
                 [&] { return doc.StreamRecordsFromMemory("<a/>", {}, &accept, walk, true); }},
                {"GetNbElementsInFile", [&] { return doc.GetNbElementsInFile(KELXML_SAMPLE, false, "*", count); }},
                {"GetNbElementsInFile walk", [&] { return doc.GetNbElementsInFile(KELXML_SAMPLE, {}, walk, count); }},
                {"Validate", [&] { return doc.Validate(KELXML_SAMPLE, {}); }},
                {"Validate memory", [&] { return doc.Validate(static_cast<const void*>("<a/>"), 4, {}); }},
                {"ValidateFromMemory", [&] { return doc.ValidateFromMemory("<a/>", {}); }},
            };
#pragma GCC diagnostic pop
            std::string wrong;
            for (const auto& [name, operation] : operations) {
                const std::size_t records = Records(doc).size();
                const bool done = operation();
                const auto after = Records(doc);
                if (done || after.size() <= records || after.back().strMessage.find("not started") == std::string::npos)
                    wrong += name + "; ";
            }
            if (!wrong.empty()) return "not refused: " + wrong;
            const XML::CXmlLibrary again;
            return doc.LoadFromMemory("<c/>") && doc.GetRootNode("c") ? std::string("ok")
                                                                      : "not usable again: " + Dump(doc);
        },
        30);
    EXPECT_EQ(outcome, "ok");
}
