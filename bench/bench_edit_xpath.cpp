// Saving the loaded 1 MB record file pretty-printed (the library's atomic Save next to the DOM
// serializer writing a temporary file, flushed and renamed as Save does), and two XPath queries
// compiled once and evaluated on the same tree, next to the same search written by hand on the
// DOM and to libxml2's XPath on its own tree.
#include "BenchSupport.h"
#include "Generator.h"

#include "XML/CKelXML.h"
#include "XML/CXPath.h"

#include <libxml/xpath.h>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/LocalFileFormatTarget.hpp>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

using namespace xercesc;

namespace bench {
namespace {

// The 1 MB tree, loaded by the library when the case starts (not timed).
std::shared_ptr<XML::CKelXML> Loaded(const Input& in) {
    auto doc = std::make_shared<XML::CKelXML>();
    if (!doc->Load(in.path.c_str(), false)) throw std::runtime_error("cannot load " + in.path);
    return doc;
}

// Saves go to memory-backed storage when there is some: a disk would time its flushes.
std::string SavePath(const char* column) {
    return (::access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : DataDir()) + "/kelxml-bench-" + column;
}

bool RawSave(DOMDocument* doc, const std::string& path) {
    static const XMLCh ls[] = {'L', 'S', 0};
    DOMImplementation* impl = DOMImplementationRegistry::getDOMImplementation(ls);
    const std::unique_ptr<DOMLSSerializer> writer(impl->createLSSerializer());
    writer->getDomConfig()->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, true);
    const std::unique_ptr<DOMLSOutput> output(impl->createLSOutput());
    const std::string temp = path + ".part";
    {
        LocalFileFormatTarget target(temp.c_str());
        output->setByteStream(&target);
        if (!writer->write(doc, output.get())) return false;
    }
    const int fd = ::open(temp.c_str(), O_RDONLY);
    const bool flushed = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    return flushed && std::rename(temp.c_str(), path.c_str()) == 0;
}

// The integer value of an element's text (digits only), as the query compares it.
long TextNumber(const DOMNode* element) {
    const DOMNode* text = element->getFirstChild();
    long value = 0;
    for (const XMLCh* s = text ? text->getNodeValue() : nullptr; s && *s >= '0' && *s <= '9'; ++s)
        value = value * 10 + (*s - '0');
    return value;
}

// The Record elements of the tree, in document order (a pre-order walk), to test.
template <class Test>
double RawRecords(const DOMDocument* doc, Test test) {
    const XName record("Record");
    double found = 0;
    for (const DOMNode* n = doc->getDocumentElement(); n;) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE && XMLString::equals(n->getNodeName(), record) &&
            test(static_cast<const DOMElement*>(n)))
            ++found;
        if (const DOMNode* child = n->getFirstChild()) {
            n = child;
            continue;
        }
        while (n && !n->getNextSibling()) n = n->getParentNode();
        n = n ? n->getNextSibling() : nullptr;
    }
    return found;
}

struct Query {
    const char* name;
    const char* expr;
    double (*raw)(const DOMDocument* doc);
};
const Query kQueries[] = {
    {"xpath_by_id_1MB", "//Record[@id='123']",
     [](const DOMDocument* doc) {
         const XName id("id"), wanted("123");
         return RawRecords(doc, [&](const DOMElement* e) { return XMLString::equals(e->getAttribute(id), wanted); });
     }},
    {"xpath_count_over_1MB", "count(//Record[Count > 100])",
     [](const DOMDocument* doc) {
         const XName count("Count");
         return RawRecords(doc, [&](const DOMElement* e) {
             for (const DOMNode* n = e->getFirstChild(); n; n = n->getNextSibling())
                 if (XMLString::equals(n->getNodeName(), count)) return TextNumber(n) > 100;
             return false;
         });
     }},
};

// The query's result as a number: the count it computes, or the number of nodes it selects.
double KelResult(const XML::CXPath& xpath, const DOMNode* doc) {
    double n = 0;
    if (std::string(xpath.GetExpression()).rfind("count(", 0) == 0) return xpath.EvaluateNumber(doc, n), n;
    return static_cast<double>(xpath.SelectNodes(doc).size());
}

}  // namespace

void RegisterEditXPath() {
    const InputOf input = []() -> const Input& { return Records(1, false); };
    Add("save_pretty_1MB", "kel", input, [](const Input& in) -> Op {
        auto doc = Loaded(in);
        return [doc] { return doc->Save(SavePath("kel").c_str(), false); };
    });
    Add("save_pretty_1MB", "raw", input, [](const Input& in) -> Op {
        auto doc = Loaded(in);
        return [doc] { return RawSave(doc->GetDocument(), SavePath("raw")); };
    });
    for (const Query& q : kQueries) {
        Add(q.name, "kel", input, [q](const Input& in) -> Op {
            auto doc = Loaded(in);
            auto xpath = std::make_shared<XML::CXPath>(q.expr);
            if (KelResult(*xpath, doc->GetDocument()) != q.raw(doc->GetDocument())) return [] { return false; };
            return [doc, xpath] { return KelResult(*xpath, doc->GetDocument()) > 0; };
        });
        Add(q.name, "raw", input, [q](const Input& in) -> Op {
            auto doc = Loaded(in);
            return [doc, q] { return q.raw(doc->GetDocument()) > 0; };
        });
        Add(q.name, "libxml2", input, [q](const Input& in) -> Op {
            auto tree = std::shared_ptr<xmlDoc>(xmlReadFile(in.path.c_str(), nullptr, XML_PARSE_NONET), xmlFreeDoc);
            auto compiled = std::shared_ptr<xmlXPathCompExpr>(xmlXPathCompile(BAD_CAST q.expr), xmlXPathFreeCompExpr);
            auto context = std::shared_ptr<xmlXPathContext>(xmlXPathNewContext(tree.get()), xmlXPathFreeContext);
            return [tree, compiled, context] {
                xmlXPathObjectPtr result = xmlXPathCompiledEval(compiled.get(), context.get());
                xmlXPathFreeObject(result);
                return result != nullptr;
            };
        });
    }
}

}  // namespace bench
