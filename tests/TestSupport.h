// Shared test fixtures: a temporary folder per test and small file helpers.
#ifndef KELXML_TEST_SUPPORT_H
#define KELXML_TEST_SUPPORT_H

#include <XML/CKelXML.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <xercesc/dom/DOM.hpp>

namespace kelxml_test {

// A fresh folder, removed with everything in it when the test ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> List() const;

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// Every record of a document's error list (empty when it has no list).
std::vector<XML::sError> Records(const XML::CKelXML& doc);
// Every record of a document's error list, one "KIND: message" line each (for failure messages).
std::string Dump(const XML::CKelXML& doc);
// Loads text from memory; returns Load's result.
bool LoadText(XML::CKelXML& doc, const std::string& text, const std::string& base = {});

// Loads text from memory with options; returns Load's result.
bool Load(XML::CKelXML& doc, const std::string& text, const XML::sLoadOptions& options);
// The grammars of data/load_options.tsv (its "file" and "fifo" rows), in a folder of their own.
struct Grammars : TempDir {
    Grammars();
};
// Options of mode naming grammars ("ns=file ...", "dtd=file", "-" none) of dir, for a document of dir.
XML::sLoadOptions Named(const TempDir& dir, const std::string& grammars,
                        std::shared_ptr<XML::CGrammarCache> cache = nullptr, int mode = XML::E_LOAD_NAMED_GRAMMARS);

// A document loaded from text (expected to load cleanly), with its root element at hand.
struct Loaded {
    explicit Loaded(const std::string& text) {
        EXPECT_TRUE(LoadText(doc, text)) << text;
        root = doc.GetDocument() ? doc.GetDocument()->getDocumentElement() : nullptr;
    }
    XML::CKelXML doc;
    xercesc::DOMElement* root = nullptr;
};

// True in a build with AddressSanitizer, whose shadow memory cannot live under RLIMIT_AS.
bool UnderAddressSanitizer();

// Runs body in a forked child for at most seconds, allowed its current address space plus
// extraBytes when they are given (under AddressSanitizer body then runs in this process,
// unlimited). Returns what body returned, or how the child ended otherwise: "signal N",
// "exit N", "timeout", "exception escaped".
std::string RunInChild(const std::function<std::string()>& body, int seconds, std::size_t extraBytes = 0);

// The rows of a tab-separated table file, its fields expanded (Expand); "#" lines and blank
// lines are skipped.
std::vector<std::vector<std::string>> Table(const std::string& path);
// text with "\n" as a line break and each "{N:part}" as part written N times, "$i" in a copy
// standing for its number (1 to N) and "$j" for that number less one.
std::string Expand(const std::string& text);
// text with every mark replaced by value.
std::string Replace(std::string text, const std::string& mark, const std::string& value);
// Checks a load against the expectation of a table row: result "ok" (loaded without a record)
// or "K:text" (not loaded, a record of kind K, or of any kind for "*", holds text); holds: text
// that the document's information (InformationOf), its root's text content or one of its
// attributes as name=value holds ("" none).
// Returns "ok" or what was found instead.
std::string Verdict(const XML::CKelXML& doc, bool loaded, const std::string& result, const std::string& holds);

// What a document holds, one node per line in document order: elements, specified attributes
// (sorted), text, CDATA, comments, processing instructions, entity references with their
// content, and the document type with its identifiers and internal subset. With
// dropIndentation, whitespace-only text is left out where pretty-printing replaces it: in
// elements that hold markup and no other text, outside xml:space="preserve".
std::string InformationOf(const xercesc::DOMNode* node, bool dropIndentation);

// Scoped change of the working folder (for documents whose relative references start there);
// entered() tells whether the change took place.
class WorkingDirectory {
public:
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
    explicit WorkingDirectory(const std::string& dir) {
        char buffer[4096];
        if (::getcwd(buffer, sizeof buffer)) m_previous = buffer;
        m_entered = ::chdir(dir.c_str()) == 0;
    }
    ~WorkingDirectory() {
        if (!m_previous.empty() && ::chdir(m_previous.c_str()) != 0) std::perror("chdir");
    }
    bool entered() const { return m_entered; }

private:
    std::string m_previous;
    bool m_entered = false;
};

// The folder of the shared conformance material, or empty when it is absent.
std::string SharedDir();

}  // namespace kelxml_test

#endif
