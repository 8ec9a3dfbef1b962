// Compares the streaming walk (StreamElements) with LoopElements on the loaded document: the
// same calls, in the same order, with the same arguments and subtrees, the same verdict and the
// same recorded diagnostics; and the walk without nodes (StreamRecords) with both. Shared by the streaming and the
// conformance corpus tests.
#ifndef KELXML_TEST_STREAMCOMPARE_H
#define KELXML_TEST_STREAMCOMPARE_H

#include "TestSupport.h"

#include <XML/CKelXML.h>

#include <xercesc/dom/DOM.hpp>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace kelxml_test {

// The whole subtree of node, one line per node: depth, kind, name, value and every attribute.
inline std::string Describe(const xercesc::DOMNode* top) {
    std::ostringstream out;
    int depth = 0;
    for (const xercesc::DOMNode* node = top;;) {
        out << depth << ' ' << node->getNodeType() << ' ' << XML::XStr::ToLocal(node->getNodeName());
        if (node->getNodeValue()) out << " = " << XML::XStr::ToLocal(node->getNodeValue());
        const xercesc::DOMNamedNodeMap* attributes = node->getAttributes();
        for (XMLSize_t i = 0; attributes && i < attributes->getLength(); ++i)
            out << " @" << XML::XStr::ToLocal(attributes->item(i)->getNodeName()) << '='
                << XML::XStr::ToLocal(attributes->item(i)->getNodeValue());
        out << '\n';
        if (node->getFirstChild()) {
            node = node->getFirstChild();
            ++depth;
            continue;
        }
        for (; node != top && !node->getNextSibling(); --depth) node = node->getParentNode();
        if (node == top) return out.str();
        node = node->getNextSibling();
    }
}

// The user data every walk passes: the functor must see it unchanged.
inline int g_userData = 0;

// Writes down every call and answers with verdict(index of the call), or true.
class CallLog : public XML::TFunctor {
public:
    explicit CallLog(std::size_t attributeCount, std::function<bool(std::size_t)> verdict = nullptr)
        : m_attributeCount(attributeCount), m_verdict(std::move(verdict)) {}
    bool operator()(xercesc::DOMNode* node, std::string tagName, std::string text, std::string* values,
                    void* userData) override {
        std::ostringstream head;
        head << tagName << " |";
        for (std::size_t i = 0; i < m_attributeCount; ++i) head << " [" << values[i] << ']';
        heads.push_back(head.str());
        texts.push_back(text);
        std::ostringstream call;
        call << tagName << " | " << text << " | ud=" << userData << " |";
        for (std::size_t i = 0; i < m_attributeCount; ++i) call << " [" << values[i] << ']';
        if (node) call << '\n' << Describe(node);
        calls.push_back(call.str());
        return m_verdict ? m_verdict(calls.size() - 1) : true;
    }
    std::vector<std::string> calls;
    std::vector<std::string> heads, texts;  // tag name and attribute values; text

private:
    std::size_t m_attributeCount;
    std::function<bool(std::size_t)> m_verdict;
};

struct WalkCase {
    std::string path;  // from the root element, as the tool takes it
    std::vector<std::string> attributes;
    bool stopOnTrue = false, stopOnFalse = false, stopOnMissingAttribute = false;
    std::function<bool(std::size_t)> verdict;  // null: always true
};

// LoopElements on the loaded document, from the root element as StreamElements starts (with the
// path whole when its first name is not the root element's: it starts below the root element).
inline std::vector<std::string> LoopOnLoaded(const XML::CKelXML& doc, const WalkCase& c, bool& verdict) {
    CallLog log(c.attributes.size(), c.verdict);
    std::vector<std::string> names = c.attributes;
    verdict = false;
    xercesc::DOMElement* root = doc.GetDocument() ? doc.GetDocument()->getDocumentElement() : nullptr;
    const std::size_t slash = c.path.find('\\');
    if (!root) return log.calls;
    const bool below = XML::XStr::ToLocal(root->getNodeName()) != c.path.substr(0, slash);
    if (below || slash != std::string::npos)
        verdict = XML::CKelXML::LoopElements(&log, root, below ? c.path : c.path.substr(slash + 1), names.data(),
                                             static_cast<int>(names.size()), &g_userData, c.stopOnTrue, c.stopOnFalse,
                                             c.stopOnMissingAttribute);
    else {  // the root element alone, as LoopElements would visit it among its siblings
        std::vector<std::string> values(names.size() + 1);
        bool complete = true;
        for (std::size_t i = 0; i < names.size(); ++i)
            complete = XML::CKelXML::GetAttributeValue(root, names[i].c_str(), &values[i]) && complete;
        std::string text;
        XML::CKelXML::GetValue(root, text);
        if (complete || !c.stopOnMissingAttribute) verdict = log(root, c.path, text, values.data(), &g_userData);
    }
    return log.calls;
}

// Streams the file (or, when file is empty, the bytes) and compares with the loaded document;
// returns what differs, or empty.
inline std::string CompareStream(const std::string& file, const std::string& bytes, const WalkCase& c) {
    XML::CKelXML loaded;
    if (file.empty())
        LoadText(loaded, bytes);
    else
        loaded.Load(file.c_str(), false);
    bool want = false;
    const std::vector<std::string> expected = LoopOnLoaded(loaded, c, want);

    XML::CKelXML streamed;
    CallLog log(c.attributes.size(), c.verdict);
    std::vector<std::string> names = c.attributes;
    const int count = static_cast<int>(names.size());
    bool got = !want;
    const bool clean = file.empty() ? streamed.StreamElements(static_cast<const void*>(bytes.data()),
                                                              static_cast<unsigned int>(bytes.size()), &log, c.path,
                                                              names.data(), count, &g_userData, c.stopOnTrue,
                                                              c.stopOnFalse, c.stopOnMissingAttribute, &got)
                                    : streamed.StreamElements(file.c_str(), false, &log, c.path, names.data(), count,
                                                              &g_userData, c.stopOnTrue, c.stopOnFalse,
                                                              c.stopOnMissingAttribute, &got);
    std::string seen, wanted;
    for (const XML::sError& r : Records(streamed)) seen += std::to_string(r.eType) + " " + r.strMessage + "\n";
    for (const XML::sError& r : Records(loaded)) wanted += std::to_string(r.eType) + " " + r.strMessage + "\n";
    std::ostringstream why;
    const std::string where = "path '" + c.path + "' flags " + std::to_string(c.stopOnTrue) +
                              std::to_string(c.stopOnFalse) + std::to_string(c.stopOnMissingAttribute) + ": ";
    // Load's partial tree after a fatal error is no reference: the walk visits only the records
    // finished before the error (checked where such documents are made).
    bool fatal = false;
    for (const XML::sError& r : Records(loaded)) fatal = fatal || r.eType >= XML::E_FATAL_ERROR;
    if (!fatal && log.calls != expected) {
        std::size_t i = 0;
        while (i < log.calls.size() && i < expected.size() && log.calls[i] == expected[i]) ++i;
        why << where << log.calls.size() << " calls, LoopElements made " << expected.size() << "; call " << i << ":\n"
            << (i < log.calls.size() ? log.calls[i] : "") << "LoopElements:\n"
            << (i < expected.size() ? expected[i] : "");
    }
    if (!fatal && got != want) why << where << "verdict " << got << ", LoopElements " << want << '\n';
    // Without nodes (StreamRecords): the same calls, verdict, result and records, the text only
    // when asked for (here, without stopOnMissingAttribute).
    CallLog plain(c.attributes.size(), c.verdict);
    const XML::sWalkOptions walk{c.path, c.attributes, c.stopOnTrue, c.stopOnFalse, c.stopOnMissingAttribute};
    const bool wantText = !c.stopOnMissingAttribute;
    bool plainVerdict = !got;
    XML::CKelXML events;
    const bool plainClean = file.empty()
                                ? events.StreamRecordsFromMemory(bytes, {}, &plain, walk, wantText, &plainVerdict)
                                : events.StreamRecords(file.c_str(), {}, &plain, walk, wantText, &plainVerdict);
    std::vector<std::string> texts = log.texts;
    if (!wantText) texts.assign(texts.size(), std::string());
    std::size_t first = 0;  // the first call that differs
    while (first < plain.heads.size() && first < log.heads.size() && plain.heads[first] == log.heads[first] &&
           plain.texts[first] == texts[first])
        ++first;
    if (first < std::max(plain.heads.size(), log.heads.size()) || plainVerdict != got || plainClean != clean)
        why << where << "StreamRecords: " << plain.heads.size() << " calls, verdict " << plainVerdict << ", call "
            << first << ": " << (first < plain.heads.size() ? plain.heads[first] + " " + plain.texts[first] : "")
            << "\nStreamElements: " << log.heads.size() << ", " << got << ": "
            << (first < log.heads.size() ? log.heads[first] + " " + texts[first] : "") << '\n';
    if (Dump(events) != Dump(streamed))
        why << where << "StreamRecords recorded:\n" << Dump(events) << "StreamElements:\n" << Dump(streamed);
    // A stop leaves the rest of the document unread, and its diagnostics unmade.
    const bool mayStop = c.stopOnTrue || c.stopOnFalse || c.stopOnMissingAttribute;
    if (mayStop ? wanted.compare(0, seen.size(), seen) != 0 : seen != wanted)
        why << where << "records:\n" << seen << "Load recorded:\n" << wanted;
    if (clean != seen.empty()) why << where << "result " << clean << '\n';
    return why.str();
}

}  // namespace kelxml_test

#endif
