// Loading: what the edges of the API show. Load outcomes, record lists and one object loading
// after another are rows of data/load_options.tsv.
#include "TestSupport.h"

#include <cstring>
#include <memory>

using namespace kelxml_test;

TEST(Load, MissingFileIsAFatalRecordWithoutDocument) {
    XML::CKelXML doc;
    EXPECT_FALSE(doc.Load("/nonexistent/dir/file.xml", false));
    EXPECT_EQ(doc.GetDocument(), nullptr);
    EXPECT_EQ(Verdict(doc, false, "2:/nonexistent/dir/file.xml", ""), "ok");
    EXPECT_EQ(Verdict(doc, LoadText(doc, "<a>ok</a>"), "ok", "ok"), "ok");
}

TEST(Load, NullArgumentsGiveOneRecord) {
    XML::CKelXML doc;
    ASSERT_TRUE(LoadText(doc, "<a/>"));
    EXPECT_FALSE(doc.Load(static_cast<const char*>(nullptr), false));
    EXPECT_EQ(doc.GetDocument(), nullptr);
    EXPECT_FALSE(doc.Load(static_cast<const void*>(nullptr), 10u));
    ASSERT_EQ(Records(doc).size(), 1u);
    EXPECT_EQ(Records(doc)[0].eType, XML::E_MISSING);
}

TEST(Load, MemoryBufferIsOnlyReadAndMayBeFreedAfterwards) {
    const std::string text = "<r a='1'>caf\xC3\xA9</r>";
    auto buffer = std::make_unique<char[]>(text.size());
    std::memcpy(buffer.get(), text.data(), text.size());
    XML::CKelXML doc;
    ASSERT_TRUE(doc.Load(static_cast<const void*>(buffer.get()), static_cast<unsigned int>(text.size())));
    EXPECT_EQ(std::string(buffer.get(), text.size()), text);
    buffer.reset();  // the document must not refer to the caller's bytes
    EXPECT_EQ(XML::XStr::ToLocal(doc.GetDocument()->getDocumentElement()->getTextContent()), "caf\xC3\xA9");
}
