// libFuzzer target: loads the input from memory, reads the whole tree it got through every
// reading operation, then saves it (pretty and canonical). Any crash, leak or sanitizer report
// is a finding; failed loads and reads are not.
#include <XML/CKelXML.h>

#include <xercesc/dom/DOM.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

using xercesc::DOMNode;
using XML::CKelXML;

namespace {

std::string g_saveFile;

std::string NameOf(const DOMNode* node) { return XML::XStr::ToLocal(node->getNodeName()); }

struct Walk {
    unsigned calls = 0;
    int attributes = 0;  // how many values each call receives
};

// Counts the calls and gives a verdict that depends on the data, so every stop flag is taken.
class CountingFunctor : public XML::TFunctor {
public:
    bool operator()(DOMNode* node, std::string tagName, std::string text, std::string* attributeValues,
                    void* userData) override {
        Walk& walk = *static_cast<Walk*>(userData);
        ++walk.calls;
        std::size_t seen = tagName.size() + text.size() + (node ? 1 : 0);
        for (int i = 0; i < walk.attributes; ++i) seen += attributeValues[i].size();
        return seen % 2 == 0;
    }
};

// The first child element, and its first child element, when they exist.
const DOMNode* FirstChildElement(const DOMNode* node) {
    for (const DOMNode* c = node ? node->getFirstChild() : nullptr; c; c = c->getNextSibling())
        if (c->getNodeType() == DOMNode::ELEMENT_NODE) return c;
    return nullptr;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "load_fuzzer: %s\n", what.c_str());
    std::abort();
}

// The reference walk for the counting and search operations: every element below start in
// document order (start excluded), through first child / next sibling only.
std::vector<const DOMNode*> ElementsBelow(const DOMNode* start) {
    std::vector<const DOMNode*> found;
    for (const DOMNode* node = start->getFirstChild(); node;) {
        if (node->getNodeType() == DOMNode::ELEMENT_NODE) found.push_back(node);
        if (node->getFirstChild()) {
            node = node->getFirstChild();
            continue;
        }
        while (node != start && !node->getNextSibling()) node = node->getParentNode();
        node = node == start ? nullptr : node->getNextSibling();
    }
    return found;
}

// Counts and the first match agree with a plain walk of the same tree.
void CheckCountsAndSearch(const DOMNode* element) {
    const std::vector<const DOMNode*> below = ElementsBelow(element);
    unsigned int count = 12345;
    if (!CKelXML::GetNbChildInNode(element, "*", count) || count != below.size())
        Fail("GetNbChildInNode(*) gave " + std::to_string(count) + ", the tree has " + std::to_string(below.size()));
    // "*" is a wildcard only for the recursive count; the direct count takes it as a name.
    if (const DOMNode* child = FirstChildElement(element)) {
        const std::string name = NameOf(child);
        std::size_t direct = 0;
        for (const DOMNode* c = child; c; c = c->getNextSibling())
            if (c->getNodeType() == DOMNode::ELEMENT_NODE && NameOf(c) == name) ++direct;
        count = 12345;
        if (!CKelXML::GetNbChildInNodeWithoutRecursive(element, name.c_str(), count) || count != direct)
            Fail("GetNbChildInNodeWithoutRecursive(" + name + ") gave " + std::to_string(count) + ", the tree has " +
                 std::to_string(direct));
    }
    const DOMNode* first = CKelXML::GetFirstNode(element, "*");
    if (first != (below.empty() ? nullptr : below.front())) Fail("GetFirstNode(*) is not the first element below");
    if (!below.empty()) {
        // The same for the name of the last element below, which has the most candidates before it.
        const DOMNode* last = below.back();
        const std::string name = NameOf(last);
        std::size_t same = 0;
        const DOMNode* firstSame = nullptr;
        for (const DOMNode* e : below)
            if (NameOf(e) == name && same++ == 0) firstSame = e;
        count = 12345;
        if (!CKelXML::GetNbChildInNode(element, name.c_str(), count) || count != same)
            Fail("GetNbChildInNode(" + name + ") gave " + std::to_string(count) + ", the tree has " +
                 std::to_string(same));
        if (CKelXML::GetFirstNode(element, name.c_str()) != firstSame)
            Fail("GetFirstNode(" + name + ") is not the first such element below");
    }
}

void ReadAttributes(const DOMNode* element) {
    const xercesc::DOMNamedNodeMap* attributes = element->getAttributes();
    const XMLSize_t count = attributes ? attributes->getLength() : 0;
    std::vector<std::string> names;
    for (XMLSize_t i = 0; i < count; ++i) {
        const std::string name = NameOf(attributes->item(i));
        names.push_back(name);
        const char* n = name.c_str();
        bool b = false;
        int i32 = 0;
        long l = 0;
        unsigned long ul = 0;
        unsigned int ui = 0;
        unsigned short us = 0;
        float f = 0;
        std::string s;
        std::string p = "previous";
        CKelXML::GetAttributeValue(element, n, b);
        CKelXML::GetAttributeValue(element, n, i32);
        CKelXML::GetAttributeValue(element, n, l);
        CKelXML::GetAttributeValue(element, n, ul);
        CKelXML::GetAttributeValue(element, n, ui);
        CKelXML::GetAttributeValue(element, n, us);
        CKelXML::GetAttributeValue(element, n, f);
        CKelXML::GetAttributeValue(element, n, s);
        CKelXML::GetAttributeValue(element, n, &p);
        // Too small, exactly the usual size, and ample: the value is either whole or refused.
        for (int size : {1, 8, 64, 4096}) {
            std::vector<char> buffer(static_cast<std::size_t>(size), 'x');
            const bool copied = CKelXML::GetAttributeValue(element, n, buffer.data(), size);
            const bool terminated = buffer.back() == '\0';
            const bool zeroed = std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == '\0'; });
            if (copied ? !terminated : !zeroed) {
                std::fprintf(stderr, "char* GetAttributeValue(%s, size %d) left the buffer %s\n", n, size,
                             copied ? "unterminated" : "not zeroed");
                std::abort();
            }
        }
        CKelXML::HasAttributeSpecificValue(element, n, s.c_str());
        CKelXML::HasAttributeSpecificValue(element, n, "");
    }
    names.push_back("absent-attribute");
    std::vector<std::string> values(names.size());
    const int n = static_cast<int>(names.size());
    CKelXML::GetAttributeValues(element, names.data(), values.data(), n, false);
    CKelXML::GetAttributeValues(element, names.data(), values.data(), n, true);
}

void ReadElement(const DOMNode* element) {
    DOMNode* mutableElement = const_cast<DOMNode*>(element);
    const DOMNode* child = FirstChildElement(element);
    const std::string childName = child ? NameOf(child) : std::string("absent");
    const DOMNode* grandChild = FirstChildElement(child);

    CKelXML::GetNode(mutableElement, childName.c_str());
    CKelXML::GetFirstSubNode(element, childName.c_str());
    if (element->getFirstChild()) CKelXML::GetNode(mutableElement, NameOf(element->getFirstChild()).c_str());
    CKelXML::GetFirstNode(element, "*");
    CKelXML::GetFirstNode(element, childName.c_str());

    unsigned int count = 0;
    CKelXML::GetNbChildInNode(element, "*", count);
    CKelXML::GetNbChildInNode(element, childName.c_str(), count);
    CKelXML::GetNbChildInNodeWithoutRecursive(element, "*", count);
    CKelXML::GetNbChildInNodeWithoutRecursive(element, childName.c_str(), count);

    std::string text;
    std::wstring wide;
    CKelXML::GetValue(element, text);
    CKelXML::GetValue(element, wide);
    std::string childText;
    CKelXML::GetValue(element, childName, &childText);
    CKelXML::GetValue(element, "#text", &childText);

    std::string s;
    int i = 0;
    float f = 0;
    bool b = false;
    CKelXML::GetChildValue(element, childName.c_str(), s);
    CKelXML::GetChildValue(element, childName.c_str(), i);
    CKelXML::GetChildValue(element, childName.c_str(), f);
    CKelXML::GetChildValue(element, childName.c_str(), b);
    CKelXML::GetChildValue(element, "*", s);

    std::vector<std::string> values;
    CKelXML::GetArrayOfTagValues(element, "*", values);
    CKelXML::GetArrayOfTagValues(element, childName.c_str(), values);

    std::map<std::string, std::string> dictionary;
    CKelXML::o_GetDictionaryFromNode(element, dictionary);

    ReadAttributes(element);

    // Walk the children named like the first one, and the grandchildren below it, asking for the
    // first attribute of the child and one that is absent.
    CountingFunctor functor;
    Walk walk;
    std::string attributeNames[2] = {"absent-attribute", "absent-attribute"};
    if (child && child->getAttributes() && child->getAttributes()->getLength() > 0)
        attributeNames[0] = NameOf(child->getAttributes()->item(0));
    walk.attributes = 1;
    CKelXML::LoopElements(&functor, mutableElement, childName, attributeNames, 1, &walk, false, false, false);
    if (grandChild)
        CKelXML::LoopElements(&functor, mutableElement, childName + "\\" + NameOf(grandChild), attributeNames, 1, &walk,
                              false, false, false);
    walk.attributes = 2;
    CKelXML::LoopElements(&functor, mutableElement, childName, attributeNames, 2, &walk, true, false, true);
    walk.attributes = 0;
    CKelXML::LoopElements(&functor, mutableElement, childName, nullptr, 0, &walk, false, true, false);
}

// Visits every node without recursion: a fuzzed tree may be deep.
void ReadTree(CKelXML& doc) {
    xercesc::DOMDocument* document = doc.GetDocument();
    if (!document) return;
    const xercesc::DOMElement* root = document->getDocumentElement();
    const std::string rootName = root ? NameOf(root) : std::string("absent");
    doc.GetRootNode(rootName);
    doc.GetRootNode("#comment");
    doc.GetRootNode("absent");

    std::string text;
    CKelXML::GetValue(document, text);
    CKelXML::GetValue(document, rootName, &text);
    unsigned int count = 0;
    CKelXML::GetNbChildInNode(document, "*", count);
    std::map<std::string, std::string> dictionary;
    CKelXML::o_GetDictionaryFromNode(document, dictionary);
    CountingFunctor functor;
    Walk walk;
    if (root) {
        const DOMNode* child = FirstChildElement(root);
        const std::string path = rootName + (child ? "\\" + NameOf(child) : std::string());
        CKelXML::LoopElements(&functor, document, path, nullptr, 0, &walk, false, false, false);
    }

    // Checked on the root and its children only: linear work each, and every element is below one.
    if (root) {
        CheckCountsAndSearch(root);
        for (const DOMNode* c = FirstChildElement(root); c; c = c->getNextSibling())
            if (c->getNodeType() == DOMNode::ELEMENT_NODE) CheckCountsAndSearch(c);
    }

    for (DOMNode* node = document->getFirstChild(); node;) {
        if (node->getNodeType() == DOMNode::ELEMENT_NODE) {
            ReadElement(node);
        } else {
            std::wstring wide;
            CKelXML::GetValue(node, text);
            CKelXML::GetValue(node, wide);
        }
        if (node->getFirstChild()) {
            node = node->getFirstChild();
            continue;
        }
        while (node && !node->getNextSibling()) {
            node = node->getParentNode();
            if (node == document) node = nullptr;
        }
        if (node) node = node->getNextSibling();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!CKelXML::initXmlAPI()) std::abort();
    // Saves go to one file in a private folder, in memory when the machine has /dev/shm: every
    // Save syncs its file, which would cost more on a disk than the rest of the run.
    // Relative references in the input resolve against the working directory, which the runner
    // points at an empty folder.
    const char* base = std::getenv("TMPDIR");
    if (::access("/dev/shm", W_OK) == 0) base = "/dev/shm";
    std::string folder = std::string(base && *base ? base : "/tmp") + "/kelxml-fuzz-XXXXXX";
    if (!::mkdtemp(&folder[0])) std::abort();
    g_saveFile = folder + "/saved.xml";
    std::atexit([] {
        ::unlink(g_saveFile.c_str());
        ::rmdir(g_saveFile.substr(0, g_saveFile.rfind('/')).c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CKelXML doc;
    doc.Load(static_cast<const void*>(data), static_cast<unsigned int>(size));
    ReadTree(doc);
    if (doc.GetDocument()) {
        doc.Save(g_saveFile.c_str(), false);
        doc.Save(g_saveFile.c_str(), true);
        if (const xercesc::DOMElement* root = doc.GetDocument()->getDocumentElement())
            doc.Save(g_saveFile.c_str(), root, true);
    }
    return 0;
}
