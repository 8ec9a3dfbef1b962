// PatternGuard: a value checked against a pattern facet never overflows the stack, whoever names
// the schema, on the main thread and on a thread of 256 KiB: it loads, or gets a datatype error
// at its place, or the schema is refused. Each load runs in a child process, so that a crash is
// seen as a signal. The shapes and cases are in data/pattern_guard.tsv.
#include "TestSupport.h"

#include "XML/internal/Messages.h"

#include <pthread.h>

using namespace kelxml_test;

namespace {

std::string Schema(const std::string& pattern, const std::string& defaultValue) {
    return "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:simpleType name='T'><xs:restriction "
           "base='xs:string'><xs:pattern value='" +
           pattern +
           "'/></xs:restriction></xs:simpleType>"
           "<xs:element name='r'><xs:complexType><xs:simpleContent><xs:extension base='T'><xs:attribute name='v' "
           "type='T'" +
           (defaultValue == "-" ? "" : " default='" + defaultValue + "'") +
           "/></xs:extension></xs:simpleContent></xs:complexType></xs:element></xs:schema>";
}

// A document of root r, naming s.xsd when located, its attribute v and text as given.
std::string Document(bool located, const std::string& attribute, const std::string& text) {
    return "<r" +
           std::string(located ? " xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
                                 "xsi:noNamespaceSchemaLocation='s.xsd'"
                               : "") +
           (attribute == "-" ? "" : " v='" + attribute + "'") + "\n>" + (text == "-" ? "" : text) + "</r>";
}

// What a load came to: "clean", "stopped" (the datatype error of a value the matcher could not
// check, at its place), "stopped while building" (a value of the schema), "refused" (the
// pattern, by the schema judge), or the start of the records.
std::string Outcome(bool loaded, const XML::CKelXML& doc) {
    if (loaded) return "clean";
    for (const XML::sError& record : Records(doc)) {
        if (record.strMessage.find(XML::internal::msg::kPatternValue) != std::string::npos)
            return record.eType == XML::E_ERROR && record.nLine == 2 ? "stopped" : "stopped while building";
        if (record.strMessage.find("may take the matcher") != std::string::npos) return "refused";
    }
    return Dump(doc).substr(0, 300);
}

// A small thread's stack (the matcher's frames are Xerces' own: the same under the sanitizer).
constexpr std::size_t kSmallStack = std::size_t{256} << 10;

// The outcome of load in a child process, on its main thread (stack 0) or on a thread of stack.
std::string InChild(std::size_t stack, const std::function<bool(XML::CKelXML&)>& load) {
    return RunInChild(
        [&] {
            struct Job {
                const std::function<bool(XML::CKelXML&)>* load;
                std::string outcome;
            } job{&load, {}};
            const auto run = [](void* argument) -> void* {
                auto* const j = static_cast<Job*>(argument);
                XML::CKelXML doc;
                const bool loaded = (*j->load)(doc);
                j->outcome = Outcome(loaded, doc);
                return nullptr;
            };
            if (stack == 0) {
                run(&job);
                return job.outcome;
            }
            pthread_attr_t attributes;
            pthread_attr_init(&attributes);
            pthread_attr_setstacksize(&attributes, stack);
            pthread_t thread;
            const bool started = pthread_create(&thread, &attributes, run, &job) == 0;
            pthread_attr_destroy(&attributes);
            if (started) pthread_join(thread, nullptr);
            return started ? job.outcome : "no thread";
        },
        120);
}

TEST(PatternGuard, LongValuesAreStoppedNotOverflowed) {
    const TempDir dir;
    const std::string file = dir.File("d.xml");
    for (const auto& row : Table(KELXML_TEST_DATA "/pattern_guard.tsv")) {
        if (row[0] == "shape") {  // a value of each length, in the attribute and in the text
            WriteFile(dir.File("s.xsd"), Schema(row[1], "-"));
            for (const std::size_t length : {256, 2000, 40000}) {
                std::string value;
                while (value.size() + row[2].size() + row[3].size() <= length) value += row[2];
                for (const bool inText : {false, true}) {
                    WriteFile(file, Document(true, inText ? row[2] + row[3] : value + row[3],
                                             inText ? value + row[3] : row[2] + row[3]));
                    for (const std::size_t stack : {std::size_t{0}, kSmallStack}) {
                        SCOPED_TRACE(row[1] + ", " + std::to_string(length) + (inText ? " in the text" : "") +
                                     (stack ? ", small thread" : ""));
                        // 2000 characters fit the main thread's stack only
                        const std::string expected = row[4] == "refused"                 ? "refused"
                                                     : row[4] == "flat" || length <= 256 ? "clean"
                                                     : length > 20000 || stack           ? "stopped"
                                                                                         : "clean";
                        EXPECT_EQ(InChild(stack, [&](XML::CKelXML& doc) { return doc.Load(file.c_str(), true); }),
                                  expected);
                    }
                }
            }
            continue;
        }
        // Grammars the caller names, the values a schema holds, and the streaming walk.
        WriteFile(dir.File("s.xsd"), Schema(row[2], row[3]));
        WriteFile(file, Document(row[1] != "named", row[4], row[5]));
        XML::sLoadOptions named;
        named.eMode = XML::E_LOAD_NAMED_GRAMMARS;
        named.vSchemas.push_back({"", dir.File("s.xsd")});
        for (const std::size_t stack : {std::size_t{0}, kSmallStack}) {
            SCOPED_TRACE(row[0] + (stack ? ", small thread" : ""));
            EXPECT_EQ(InChild(stack,
                              [&](XML::CKelXML& doc) {
                                  unsigned long count = 0;
                                  return row[1] == "count"   ? doc.GetNbElementsInFile(file.c_str(), true, "r", count)
                                         : row[1] == "named" ? doc.Load(file.c_str(), named)
                                                             : doc.Load(file.c_str(), true);
                              }),
                      row[6]);
        }
    }
}

}  // namespace
