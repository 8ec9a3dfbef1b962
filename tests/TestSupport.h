// Shared test fixtures: a temporary folder per test and small file helpers.
#ifndef KELXML_TEST_SUPPORT_H
#define KELXML_TEST_SUPPORT_H

#include <XML/CKelXML.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

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

// Runs body in a forked child for at most seconds. Returns what body returned, or how the child
// ended otherwise: "signal N", "exit N", "timeout", "exception escaped".
std::string RunInChild(const std::function<std::string()>& body, int seconds);
// Runs body in a forked child allowed its current address space plus extraBytes and seconds
// of time. Returns what body returned, or how the child ended otherwise: "signal N", "exit N",
// "timeout". Under AddressSanitizer body runs in this process, unlimited.
std::string RunInLimitedChild(const std::function<std::string()>& body, std::size_t extraBytes, int seconds);

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
