// Save writes back what Load read: the internal subset, encodings, grammar defaults, a stable
// pretty form, parts that load alone, small diffs for small edits, and no dependence on the depth
// of the tree.
#include "CorpusSupport.h"

#include <xercesc/dom/DOM.hpp>

#include <algorithm>
#include <iterator>
#include <map>
#include <sstream>

#include <pthread.h>

using namespace kelxml_test;
using namespace xercesc;

namespace {

// Saves node (null: the whole document) into dir; the bytes, or the records of a refusal.
std::string Saved(XML::CKelXML& doc, const DOMNode* node, XML::E_SAVE_FORM form, const TempDir& dir) {
    const std::string file = dir.File("saved.xml");
    return (node ? doc.Save(file.c_str(), node, form) : doc.Save(file.c_str(), form)) ? ReadFile(file)
                                                                                      : "REFUSED " + Dump(doc);
}

}  // namespace

// tests/data/serializer-cases.tsv, a row per case and form. A whole document loads back with as
// many records and the same information (in pretty form, indentation aside) and saves to the same
// bytes again; a part loads alone with the canonical form it has in the document.
TEST(Save, Cases) {
    const char* const forms[] = {"pretty", "canonical", "as-loaded"};  // the order of E_SAVE_FORM
    const std::string base = KELXML_TEST_DATA "/document.xml";
    TempDir dir;
    const auto rows = ReadRows(KELXML_TEST_DATA "/serializer-cases.tsv", true);
    ASSERT_GE(rows.size(), 58u);
    for (std::vector<std::string> row : rows) {
        row.resize(5);
        SCOPED_TRACE(row[0] + " (" + row[1] + ")");
        const auto form = static_cast<XML::E_SAVE_FORM>(std::find(std::begin(forms), std::end(forms), row[1]) - forms);
        XML::CKelXML doc, back;
        LoadText(doc, row[3], base);
        ASSERT_NE(doc.GetDocument(), nullptr) << Dump(doc);
        const DOMNode* part =
            row[2].empty() ? nullptr
                           : doc.GetDocument()->getElementsByTagName(XML::XStr(row[2].c_str()).unicodeForm())->item(0);
        const std::string saved = Saved(doc, part, form, dir);
        EXPECT_EQ(saved, row[4]);
        LoadText(back, saved, base);
        ASSERT_NE(back.GetDocument(), nullptr) << Dump(back);
        const bool pretty = form == XML::E_SAVE_PRETTY;
        if (part) {  // in pretty form, the tree of the unindented form, indentation aside
            std::string canonical, again;
            XML::CKelXML unindented;
            EXPECT_TRUE(doc.GetCanonicalXML(part, false, canonical) &&
                        LoadText(unindented, Saved(doc, part, XML::E_SAVE_CANONICAL, dir)) &&
                        back.GetCanonicalXML(back.GetDocument(), false, again));
            EXPECT_EQ(pretty ? InformationOf(back.GetDocument(), true) : again,
                      pretty ? InformationOf(unindented.GetDocument(), true) : canonical);
            EXPECT_EQ(Dump(back), "");
        } else {
            EXPECT_EQ(Records(back).size(), Records(doc).size()) << Dump(back);
            EXPECT_EQ(InformationOf(back.GetDocument(), pretty), InformationOf(doc.GetDocument(), pretty));
            EXPECT_EQ(Saved(back, nullptr, form, dir), saved);
        }
    }
}

// What XML cannot hold as it stands (a comment the encoding cannot hold or with "--", a PI with
// "?>", an unpaired surrogate) is refused with a record, the old file kept, also when blocks of
// the text were written before (the filler).
TEST(Save, WhatCannotBeWrittenIsRefused) {
    TempDir dir;
    const std::string file = dir.File("old.xml");
    WriteFile(file, "old");
    Loaded loaded("<?xml version='1.0' encoding='ISO-8859-1'?><a/>");
    DOMDocument* d = loaded.doc.GetDocument();
    loaded.root->appendChild(d->createTextNode(XML::XStr(std::string(200000, 'f').c_str()).unicodeForm()));
    const XMLCh lone[] = {0xD800, 0};
    for (DOMNode* node :
         {static_cast<DOMNode*>(d->createComment(u"\u0100")), static_cast<DOMNode*>(d->createComment(u"a--b")),
          static_cast<DOMNode*>(d->createProcessingInstruction(u"pi", u"x?>y")),
          static_cast<DOMNode*>(d->createTextNode(lone))}) {
        loaded.root->appendChild(node);
        EXPECT_FALSE(loaded.doc.Save(file.c_str(), false)) << node->getNodeType();
        EXPECT_EQ(Records(loaded.doc).back().eType, XML::E_EXCEPTION);
        loaded.root->removeChild(node)->release();
    }
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"old.xml"});
}

// The text goes out in blocks of 64 KiB: a document of many blocks saves to the bytes of its one
// record saved alone, repeated (one byte order mark, no character cut, the encoding's references).
TEST(Save, ManyBlocksMakeTheBytesOfOne) {
    TempDir dir;
    const std::string record = "<e a='&#xE9;'>x&#x1D11E;</e>";
    for (const std::string encoding : {"UTF-8", "UTF-16", "ISO-8859-1"}) {
        SCOPED_TRACE(encoding);
        const bool wide = encoding == "UTF-16";
        const auto encoded = [wide](const std::string& ascii) {
            std::string out;
            for (const char c : ascii) out += wide ? std::string{c, '\0'} : std::string{c};
            return out;
        };
        const auto document = [&](int records) {
            std::string text = "<?xml version='1.0' encoding='" + encoding + "'?><r>";
            for (int i = 0; i < records; ++i) text += record;
            return (wide ? std::string("\xFF\xFE") : std::string()) + encoded(text + "</r>");
        };
        XML::CKelXML one, many;
        ASSERT_TRUE(LoadText(one, document(1)) && LoadText(many, document(30000))) << Dump(one) << Dump(many);
        std::string single;
        ASSERT_TRUE(one.GetXML(one.GetDocument(), XML::E_SAVE_PRETTY, single));
        const std::size_t start = single.find(encoded("  <e")), end = single.find(encoded("</r>"));
        ASSERT_TRUE(start != std::string::npos && end != std::string::npos) << single;
        std::string expected = single.substr(0, start);
        for (int i = 0; i < 30000; ++i) expected.append(single, start, end - start);
        expected += single.substr(end);
        EXPECT_EQ(Saved(many, nullptr, XML::E_SAVE_PRETTY, dir), expected);
    }
}

namespace {

// Applies edits (as tests/data/edit-saves.tsv writes them) to doc; the first that fails, or "".
std::string Edit(XML::CKelXML& doc, const std::string& edits) {
    DOMElement* root = doc.GetDocument()->getDocumentElement();
    std::istringstream list(edits);
    for (std::string edit; std::getline(list, edit, ';');) {
        std::vector<std::string> f;
        std::istringstream fields(edit);
        for (std::string field; std::getline(fields, field, '|');) f.push_back(field);
        f.resize(5);
        auto* e = static_cast<DOMElement*>(
            XML::XStr::ToLocal(root->getNodeName()) == f[1] ? root : XML::CKelXML::GetFirstNode(root, f[1].c_str()));
        if (!e) return edit;
        const XML::XStr name(f[2].c_str());
        bool done = true;
        if (f[0] == "modify") done = doc.ModifyAttribute(f[2], f[3], e) != nullptr;
        if (f[0] == "add") done = doc.AddNewAttribute(f[2], f[3], e) != nullptr;
        if (f[0] == "addns") done = doc.AddNewAttributeNS(e, f[2], f[3], f[4]) != nullptr;
        if (f[0] == "set") done = XML::CKelXML::SetAttributeValue(e, f[2].c_str(), f[3].c_str());
        if (f[0] == "remove") e->removeAttribute(name.unicodeForm());
        if (f[0] == "rename") doc.GetDocument()->renameNode(e, nullptr, name.unicodeForm());
        if (f[0] == "child") done = doc.AddNewElementNode(f[2], e) != nullptr;
        if (f[0] == "childns") done = doc.AddNewElementNodeNS(e, f[2], f[3]) != nullptr;
        while (f[0] == "empty" && e->getFirstChild()) done = doc.RemoveChildNode(e, e->getFirstChild()) != nullptr;
        if (!done) return edit + Dump(doc);
    }
    return "";
}

}  // namespace

// tests/data/edit-saves.tsv: after edits by the library and through the DOM, a save as loaded
// changes the edited tags only, every other tag byte for byte; attributes added are saved in the
// order of the calls, in every form.
TEST(Save, EditsChangeOnlyTheEditedTags) {
    const char* const forms[] = {"pretty", "canonical", "as-loaded"};  // the order of E_SAVE_FORM
    TempDir dir;
    for (std::vector<std::string> row : ReadRows(KELXML_TEST_DATA "/edit-saves.tsv", true)) {
        row.resize(5);
        SCOPED_TRACE(row[0]);
        const auto form = static_cast<XML::E_SAVE_FORM>(std::find(std::begin(forms), std::end(forms), row[1]) - forms);
        XML::CKelXML doc;
        ASSERT_TRUE(row[2].rfind("create:", 0) == 0 ? doc.CreateDoc(row[2].substr(7).c_str()) : LoadText(doc, row[2]))
            << Dump(doc);
        EXPECT_EQ(Edit(doc, row[3]), "");
        EXPECT_EQ(Saved(doc, nullptr, form, dir), row[4] == "=" ? row[2] : row[4]);
    }
}

// tests/data/built-namespaces.tsv: a document built in memory gives an XPath expression the value
// its saved and reloaded copy gives.
TEST(Save, BuiltNamespacesAnswerAsTheReloadedCopy) {
    TempDir dir;
    for (std::vector<std::string> row : ReadRows(KELXML_TEST_DATA "/built-namespaces.tsv")) {
        row.resize(6);
        SCOPED_TRACE(row[0]);
        std::map<std::string, std::string> prefixes;
        std::istringstream bindings(row[4]);
        for (std::string binding; bindings >> binding;)
            prefixes[binding.substr(0, binding.find('='))] = binding.substr(binding.find('=') + 1);
        XML::CKelXML doc, back;
        ASSERT_TRUE(doc.CreateDoc(row[1].c_str()));
        EXPECT_EQ(Edit(doc, row[2]), "");
        std::string built, reloaded;
        EXPECT_TRUE(doc.XPathString(nullptr, row[3], prefixes, built)) << Dump(doc);
        EXPECT_TRUE(LoadText(back, Saved(doc, nullptr, XML::E_SAVE_PRETTY, dir))) << Dump(back);
        EXPECT_TRUE(back.XPathString(nullptr, row[3], prefixes, reloaded)) << Dump(back);
        EXPECT_EQ(built, row[5]);
        EXPECT_EQ(reloaded, row[5]);
    }
}

// The serializer keeps no frame per level: the deepest tree Load accepts saves in every form on a
// thread with a 128 KiB stack; indentation stops at a fixed depth.
TEST(Save, DeepestLoadableTreeSavesOnASmallStack) {
    const std::string text = [] {
        std::string t;
        for (int i = 0; i < 999; ++i) t += "<d>";
        t += "x";
        for (int i = 0; i < 999; ++i) t += "</d>";
        return t;
    }();
    TempDir dir;
    Loaded loaded(text);
    struct Job {
        XML::CKelXML* doc;
        std::string file;
        std::string saved[3];
    } job{&loaded.doc, dir.File("deep.xml"), {}};
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 128 * 1024), 0);
    pthread_t thread;
    const auto save = [](void* arg) -> void* {
        auto* j = static_cast<Job*>(arg);
        for (int f = 0; f < 3; ++f)
            j->saved[f] = j->doc->Save(j->file.c_str(), static_cast<XML::E_SAVE_FORM>(f)) ? ReadFile(j->file) : "";
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, save, &job), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    for (const std::string& saved : job.saved) {
        XML::CKelXML back;
        EXPECT_TRUE(LoadText(back, saved)) << Dump(back);
        EXPECT_LT(saved.size(), 3 * text.size());
    }
}
