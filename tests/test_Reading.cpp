// Reading: the lookups, counts, texts, typed reads and walks of tests/data/reads.txt, then what a
// table cannot say: records, null arguments, callbacks that edit the tree, depth.
#include "TestSupport.h"

#include "XML/internal/NumberText.h"
#include "XML/internal/Transcode.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include <xercesc/dom/DOM.hpp>

using namespace kelxml_test;
using namespace xercesc;
using XML::CKelXML;

namespace {

std::string Label(const DOMNode* node) {
    std::string text;
    CKelXML::GetValue(node, text);
    return node ? XML::XStr::ToLocal(node->getNodeName()) + "=" + text : "null";
}
template <class T>
std::string Show(bool ok, const T& value) {
    std::ostringstream out;
    out << (ok ? "1:" : "0:") << std::boolalpha << value;
    return out.str();
}
std::vector<std::string> Words(const char* text) {
    std::istringstream in(text ? text : "");
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}
const char* NullIfDash(const std::string& word) { return word == "-" ? nullptr : word.c_str(); }

// One operation of the table: (document, node, argument) -> what it gave.
using Op = std::function<std::string(CKelXML&, const DOMNode*, const char*)>;
template <class T>
Op Reader(bool (*read)(const DOMNode*, const char*, T&), T start) {
    return [=](CKelXML&, const DOMNode* node, const char* name) {
        T value = start;
        const bool ok = read(node, name, value);
        return Show(ok, value);
    };
}
template <class T>
void Typed(std::map<std::string, Op>& ops, const std::string& type, T start) {
    ops["checked-attr:" + type] = Reader<T>(CKelXML::GetAttributeValueChecked, start);
    ops["checked-child:" + type] = Reader<T>(CKelXML::GetChildValueChecked, start);
    ops["parse:" + type] = [=](CKelXML&, const DOMNode*, const char* text) {
        T value = start;
        const bool ok = XML::internal::ParseValue(text, value);
        return Show(ok, value);
    };
}
// A read with a default as a read: the start value is the default, the result whether it read.
template <class T, T (*ValueOr)(const DOMNode*, const char*, T, bool*)>
bool ReadOr(const DOMNode* node, const char* name, T& value) {
    bool read = false;
    value = ValueOr(node, name, value, &read);
    return read;
}
// Records each call as its text and [attribute values], answering from a script of T and F.
struct Recorder : XML::TFunctor {
    std::string verdicts, calls;
    int count = 0, attributes = 0;
    bool operator()(DOMNode* node, std::string tag, std::string text, std::string* values, void* user) override {
        calls += (count++ ? "|" : "") + text;
        for (int i = 0; i < attributes; ++i) calls += (i ? "," : "[") + values[i] + (i + 1 == attributes ? "]" : "");
        if (user != this || tag != XML::XStr::ToLocal(node->getNodeName())) calls += "(wrong tag or user data)";
        return verdicts[std::min<std::size_t>(static_cast<std::size_t>(count), verdicts.size()) - 1] == 'T';
    }
};

template <class Items, class Fn>
std::string Join(const Items& items, const char* separator, Fn write) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : separator) + write(item);
    return out;
}

std::map<std::string, Op> Operations() {
    using Text = std::string;
    std::map<std::string, Op>
        ops =
            {
                {"attr:bool", Reader<bool>(CKelXML::GetAttributeValue, true)},
                {"attr:int", Reader<int>(CKelXML::GetAttributeValue, -7)},
                {"attr:long", Reader<long>(CKelXML::GetAttributeValue, -7L)},
                {"attr:ulong", Reader<unsigned long>(CKelXML::GetAttributeValue, 7UL)},
                {"attr:uint", Reader<unsigned>(CKelXML::GetAttributeValue, 7U)},
                {"attr:ushort", Reader<unsigned short>(CKelXML::GetAttributeValue, 7)},
                {"attr:float", Reader<float>(CKelXML::GetAttributeValue, -7.0f)},
                {"attr:string", Reader<Text>(CKelXML::GetAttributeValue, "keep")},
                {"attr*", Reader<Text>([](const DOMNode* n, const char* a,
                                          Text& t) { return CKelXML::GetAttributeValue(n, a, &t); },
                                       "keep")},
                {"child:string", Reader<Text>(CKelXML::GetChildValue, "keep")},
                {"child:int", Reader<int>(CKelXML::GetChildValue, -7)},
                {"child:float", Reader<float>(CKelXML::GetChildValue, -7.0f)},
                {"child:bool", Reader<bool>(CKelXML::GetChildValue, true)},
                {"count", Reader<unsigned>(CKelXML::GetNbChildInNode, 99)},
                {"count1", Reader<unsigned>(CKelXML::GetNbChildInNodeWithoutRecursive, 99)},
                {"text",
                 Reader<Text>([](const DOMNode* n, const char*, Text& t) { return CKelXML::GetValue(n, t); }, "stale")},
                {"wtext", Reader<Text>(
                              [](const DOMNode* n, const char*, Text& t) {
                                  std::wstring wide = L"stale";
                                  const bool ok = CKelXML::GetValue(n, wide);
                                  t.clear();
                                  for (const wchar_t c : wide) XML::internal::AppendUtf8(t, static_cast<char32_t>(c));
                                  return ok;
                              },
                              "")},
                {"named",
                 [](CKelXML&, const DOMNode* node, const char* arg) {  // name [start, - for a null output]
                     const auto w = Words(arg);
                     Text text = w.size() > 1 && w[1] != "-" ? w[1] : "";
                     return Show(CKelXML::GetValue(node, w[0], w.size() > 1 && w[1] == "-" ? nullptr : &text), text);
                 }},
                {"node",
                 [](CKelXML&, const DOMNode* node, const char* name) {
                     DOMNode* found = CKelXML::GetNode(const_cast<DOMNode*>(node), name);
                     return found == CKelXML::GetFirstSubNode(node, name) ? Label(found) : "GetFirstSubNode differs";
                 }},
                {"first", [](CKelXML&, const DOMNode* node,
                             const char* name) { return Label(CKelXML::GetFirstNode(node, name)); }},
                {"root",
                 [](CKelXML& doc, const DOMNode*, const char* name) {
                     return Label(doc.GetRootNode(name)) + (Records(doc).empty() ? "" : " recorded");
                 }},
                {"array",
                 [](CKelXML&, const DOMNode* node, const char* name) {
                     std::vector<Text> values{"pre"};
                     const bool ok = CKelXML::GetArrayOfTagValues(node, name, values);
                     return Show(ok, Join(values, "|", [](const Text& v) { return v; }));
                 }},
                {"dict",
                 [](CKelXML&, const DOMNode* node, const char*) {
                     std::map<Text, Text> entries{{"keep", "k"}, {"a", "old"}};
                     const bool ok = CKelXML::o_GetDictionaryFromNode(node, entries);
                     return Show(ok, Join(entries, ";", [](const auto& e) { return e.first + "=" + e.second; }));
                 }},
                {"has",
                 [](CKelXML&, const DOMNode* node, const char* arg) {  // name value
                     auto w = Words(arg);
                     w.resize(2);
                     return std::to_string(
                         CKelXML::HasAttributeSpecificValue(node, NullIfDash(w[0]), NullIfDash(w[1])));
                 }},
                {"buf",
                 [](CKelXML&, const DOMNode* node, const char* arg) {  // name size
                     const auto w = Words(arg);
                     Text buffer(16, 'X');
                     const bool ok = CKelXML::GetAttributeValue(node, w[0].c_str(), buffer.data(), std::stoi(w[1]));
                     std::replace(buffer.begin(), buffer.end(), '\0', '.');
                     return Show(ok, buffer);
                 }},
                {"loop",
                 [](CKelXML&, const DOMNode* node, const char* arg) {  // path verdicts stop-flags [names]
                     const auto w = Words(arg);
                     Recorder recorder;
                     recorder.verdicts = w[1];
                     std::vector<Text> names;
                     std::istringstream list(w.size() > 3 ? w[3] : "");
                     for (Text name; std::getline(list, name, ',');) names.push_back(name);
                     recorder.attributes = static_cast<int>(names.size());
                     const bool ok = CKelXML::LoopElements(&recorder, const_cast<DOMNode*>(node),
                                                           w[0] == "~" ? "" : w[0], names.data(), recorder.attributes,
                                                           &recorder, w[2][0] == '1', w[2][1] == '1', w[2][2] == '1');
                     return Show(ok, recorder.calls);
                 }},
                {"elements",
                 [](CKelXML&, const DOMNode* node, const char* path) {
                     return Join(CKelXML::GetElements(const_cast<DOMNode*>(node), path), " ", Label);
                 }},
                {"attributes",
                 [](CKelXML&, const DOMNode* node, const char*) {
                     return Join(CKelXML::GetAttributes(node), " ",
                                 [](const auto& a) { return a.first + "=" + a.second; });
                 }},
                {"or-child", Reader<int>(ReadOr<int, CKelXML::GetChildValueOr<int>>, 80)},
                {"or-direct", Reader<int>(ReadOr<int, CKelXML::GetDirectChildValueOr<int>>, 80)},
                {"or-child-text", Reader<Text>(ReadOr<Text, CKelXML::GetChildValueOr<Text>>, "none")},
                {"or-attr-text", Reader<Text>(ReadOr<Text, CKelXML::GetAttributeValueOr<Text>>, "nobody")},
                {"or-value",
                 [](CKelXML&, const DOMNode* node, const char*) {  // the node's own text as an int, default 0
                     bool read = false;
                     const int value = CKelXML::GetValueOr(node, 0, &read);
                     return Show(read, value);
                 }},
            };
    // Defaults of other arithmetic and text types.
    ops["or-attr-u16"] = Reader<std::uint16_t>(ReadOr<std::uint16_t, CKelXML::GetAttributeValueOr<std::uint16_t>>, 7);
    ops["or-attr-short"] = Reader<short>(ReadOr<short, CKelXML::GetAttributeValueOr<short>>, -7);
    ops["or-attr-view"] = [](CKelXML&, const DOMNode* node, const char* name) {
        bool read = false;
        const std::string value = CKelXML::GetAttributeValueOr(node, name, std::string_view("nobody"), &read);
        return Show(read, value);
    };
    Typed<int>(ops, "int", -7);
    Typed<long>(ops, "long", -7);
    Typed<long long>(ops, "llong", -7);
    Typed<unsigned>(ops, "uint", 7);
    Typed<unsigned long>(ops, "ulong", 7);
    Typed<unsigned long long>(ops, "ullong", 7);
    Typed<float>(ops, "float", -7);
    Typed<double>(ops, "double", -7);
    Typed<bool>(ops, "bool", true);
    return ops;
}

std::string Unescaped(std::string text) {
    for (const auto& [from, to] : {std::pair{"\\n", "\n"}, {"\\t", "\t"}, {"\\r", "\r"}})
        for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, 2, to);
    return text;
}

TEST(Reading, TheTable) {
    std::ifstream in(std::string(KELXML_TEST_DATA) + "/reads.txt");
    ASSERT_TRUE(in) << "tests/data/reads.txt missing";
    const std::map<std::string, Op> ops = Operations();
    std::unique_ptr<Loaded> doc;
    int number = 0, rows = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("doc ", 0) == 0) {
            doc = std::make_unique<Loaded>(Unescaped(line.substr(4)));
            continue;
        }
        std::vector<std::string> f;
        for (std::istringstream fields(line); std::getline(fields, f.emplace_back(), '\t');) {
        }
        ASSERT_EQ(f.size(), 5u) << "line " << number << ": four columns";  // the last getline adds one
        ASSERT_TRUE(doc && ops.count(f[1])) << "line " << number;
        const DOMNode* node = f[0] == "-" ? nullptr : XML::CXPath(f[0]).SelectNode(doc->doc.GetDocument());
        ASSERT_TRUE(node || f[0] == "-") << "line " << number << ": " << f[0];
        const std::string arg = Unescaped(f[2]);
        EXPECT_EQ(ops.at(f[1])(doc->doc, node, arg == "(null)" ? nullptr : arg.c_str()), Unescaped(f[3]))
            << "line " << number << ": " << line;
        ++rows;
    }
    EXPECT_GT(rows, 400);
}

}  // namespace

TEST(Reading, RootNodeFailuresAreRecordedOnDemand) {
    CKelXML none, empty;
    EXPECT_TRUE(none.GetErrors() == nullptr && none.GetRootNode("a") == nullptr);
    EXPECT_EQ(Dump(none), "4: DOMDOCUMENT undefined\n");
    EXPECT_FALSE(LoadText(empty, "") || empty.GetRootNode("a"));
    EXPECT_EQ(Records(empty).back().strMessage, "none child node in DOMDocument");
}

TEST(Reading, NullArgumentsAndHugeCounts) {
    Loaded l("<r a='1' c=''><i/><i/></r>");
    std::string names[] = {"a", "b", "c"}, values[] = {"x", "y", "z"};
    EXPECT_FALSE(CKelXML::GetAttributeValues(l.root, names, values, 3, true));  // stops at b
    EXPECT_EQ(values[0] + values[1] + values[2], "1yz");
    EXPECT_TRUE(CKelXML::GetAttributeValues(l.root, names, values, 3, false));  // skips b
    EXPECT_EQ(values[0] + values[1] + values[2], "1y");
    EXPECT_FALSE(CKelXML::GetAttributeValues(l.root, nullptr, values, 2, false));
    EXPECT_FALSE(CKelXML::GetAttributeValues(l.root, names, nullptr, 2, false));
    EXPECT_TRUE(CKelXML::GetAttributeValues(l.root, nullptr, nullptr, 0, true));
    EXPECT_FALSE(CKelXML::GetAttributeValue(l.root, "a", static_cast<std::string*>(nullptr)));
    EXPECT_FALSE(CKelXML::GetAttributeValue(l.root, "a", static_cast<char*>(nullptr), 4));
    Recorder recorder;
    recorder.verdicts = "T";
    EXPECT_FALSE(CKelXML::LoopElements(nullptr, l.root, "i", nullptr, 0, nullptr, false, false, false));
    EXPECT_FALSE(CKelXML::LoopElements(&recorder, nullptr, "i", nullptr, 0, nullptr, false, false, false));
    EXPECT_FALSE(CKelXML::LoopElements(&recorder, l.root, "i", nullptr, 2, nullptr, false, false, false));
    EXPECT_FALSE(CKelXML::LoopElements(&recorder, l.root, "i", names, INT_MAX, nullptr, false, false, false));
    EXPECT_EQ(recorder.calls, "");  // refused without a call (nor gigabytes of values)
}

// A callback that edits the tree it walks: the next node is taken after the call.
TEST(Reading, CallbacksThatEditTheWalkedTree) {
    struct Calls : XML::TFunctor {
        std::function<bool(DOMNode*, const std::string&)> act;
        std::string texts;
        bool operator()(DOMNode* node, std::string, std::string text, std::string*, void*) override {
            texts += text;
            return act(node, text);
        }
    } calls;
    Loaded l("<r><e>1</e><e>2</e><e>3</e></r>");
    const auto walk = [&](const char* path, bool stopOnFalse) {
        calls.texts.clear();
        return CKelXML::LoopElements(&calls, l.doc.GetDocument(), path, nullptr, 0, nullptr, false, stopOnFalse, false);
    };
    calls.act = [&l](DOMNode* node, const std::string& text) {  // adds a sibling after 1, removes it when visited
        if (text == "1") l.root->insertBefore(l.doc.AddNewElementNode("e", "added", l.root), node->getNextSibling());
        return text != "added" || l.doc.RemoveChildNode(l.root, node);
    };
    EXPECT_TRUE(walk("r\\e", false));
    EXPECT_EQ(calls.texts, "1added23");
    // The walked document cannot be replaced during the walk (from the document node's children too);
    // another object may load meanwhile.
    XML::CKelXML other;
    calls.act = [&](DOMNode*, const std::string&) {
        return !LoadText(l.doc, "<o/>") && !l.doc.CreateDoc("o") && LoadText(other, "<x/>");
    };
    EXPECT_TRUE(walk("r\\e", true));
    EXPECT_EQ(calls.texts, "123");
    EXPECT_TRUE(walk("r", true));
    EXPECT_EQ(Records(l.doc).back().strMessage,
              "the document is being walked by LoopElements: it cannot be replaced during the walk");
    // Removing the next one too loses the place: the walk ends with false, not silently.
    calls.act = [&l](DOMNode* node, const std::string&) {
        if (DOMNode* next = node->getNextSibling()) l.doc.RemoveChildNode(l.root, next);
        return l.doc.RemoveChildNode(l.root, node) != nullptr;
    };
    EXPECT_FALSE(walk("r\\e", false));
    EXPECT_EQ(calls.texts, "1");
    EXPECT_TRUE(LoadText(l.doc, "<r/>"));  // after the walk
}

TEST(Reading, DeepDocumentsWithoutRecursion) {
    // Built bottom up with the DOM: the namespace-aware parser takes time quadratic in the depth.
    constexpr unsigned kDepth = 200000;
    CKelXML doc;
    ASSERT_TRUE(doc.CreateDoc("root"));
    DOMDocument* dom = doc.GetDocument();
    const XML::XStr d("d"), leaf("leaf"), x("x");
    DOMNode* top = dom->createElement(leaf.unicodeForm());
    top->appendChild(dom->createTextNode(x.unicodeForm()));
    for (unsigned i = 0; i < kDepth; ++i) top = dom->createElement(d.unicodeForm())->appendChild(top)->getParentNode();
    DOMElement* root = dom->getDocumentElement();
    root->appendChild(top);
    EXPECT_EQ(Label(CKelXML::GetFirstNode(root, "leaf")), "leaf=x");
    unsigned count = 0;
    EXPECT_TRUE(CKelXML::GetNbChildInNode(root, "*", count));
    EXPECT_EQ(count, kDepth + 1);
    std::wstring wide;
    EXPECT_TRUE(CKelXML::GetValue(root, wide) && wide == L"x");
    std::map<std::string, std::string> dictionary;
    EXPECT_TRUE(CKelXML::o_GetDictionaryFromNode(root, dictionary) && dictionary["d"] == "x");
    // Every XPath axis walks it without recursion too.
    double number = 0;
    EXPECT_TRUE(doc.XPathNumber(nullptr, "count(//leaf/ancestor::*)", number) && number == kDepth + 1);
    EXPECT_TRUE(doc.XPathNumber(nullptr, "count((//d)[1]/following::node() | //leaf/preceding::node())", number));
    EXPECT_EQ(number, 0);
    EXPECT_TRUE(doc.XPathNumber(nullptr, "count(//d) + string-length(/)", number) && number == kDepth + 1);
}
