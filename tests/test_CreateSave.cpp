// Creating documents, saving them to what the process stands on, and the object's ownership.
#include "TestSupport.h"

#include <fcntl.h>

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

// Before the library starts, and for an object that outlives its stop: a record, never a crash.
TEST(LibraryStart, OperationsOutsideARunAreRefused) {
    const std::string outcome = RunInChild(
        [] {
            XML::CKelXML::TerminateXmlAPI();  // the test program's own start
            XML::CKelXML before, outlives;
            if (before.LoadFromMemory("<a/>") || before.CreateDoc("a") || XML::CKelXML::IsXmlAPIStarted())
                return std::string("ran without the library");
            if (Dump(before).find("not started") == std::string::npos) return "no record: " + Dump(before);
            {
                const XML::CXmlLibrary library;
                if (!library.IsStarted() || !outlives.LoadFromMemory("<a><b/></a>")) return std::string("no load");
            }
            if (outlives.GetRootNode("a") || outlives.Save("/dev/null", false)) return std::string("used after stop");
            const XML::CXmlLibrary again;
            return outlives.LoadFromMemory("<c/>") && outlives.GetRootNode("c") ? std::string("ok")
                                                                                : "not usable again: " + Dump(outlives);
        },
        30);
    EXPECT_EQ(outcome, "ok");
}
