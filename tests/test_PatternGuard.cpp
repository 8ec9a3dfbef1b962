// PatternGuard: a value checked against a pattern facet never overflows the stack, whoever names
// the schema, on the main thread and on a thread of 256 KiB: it loads, or gets a datatype error
// at its place, or the schema is refused. Each load runs in a child process, so that a crash is
// seen as a signal.
#include "TestSupport.h"

#include "XML/internal/Messages.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

using kelxml_test::TempDir;
namespace msg = XML::internal::msg;

std::string Schema(const std::string& pattern, const std::string& defaultValue = {}) {
    const std::string fallback = defaultValue.empty() ? "" : " default='" + defaultValue + "'";
    return "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
           "<xs:simpleType name='T'><xs:restriction base='xs:string'><xs:pattern value='" +
           pattern +
           "'/></xs:restriction></xs:simpleType>"
           "<xs:element name='r'><xs:complexType><xs:simpleContent><xs:extension base='T'>"
           "<xs:attribute name='v' type='T'" +
           fallback + "/></xs:extension></xs:simpleContent></xs:complexType></xs:element></xs:schema>";
}

// A document of root r, naming s.xsd when located, with attribute v and text as given.
std::string Document(bool located, const std::string& attribute, const std::string& text) {
    const std::string location = located ? " xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
                                           " xsi:noNamespaceSchemaLocation='s.xsd'"
                                         : "";
    return "<r" + location + (attribute.empty() ? "" : " v='" + attribute + "'") + "\n>" + text + "</r>";
}

// What a load came to: "clean", "stopped" (the datatype error of a value the matcher could not
// check, at its place), "stopped while building" (a value of the schema), "refused" (the
// pattern, by the schema judge), or the start of the records.
std::string Outcome(bool loaded, const XML::CKelXML& doc) {
    if (loaded) return "clean";
    for (const XML::sError& record : kelxml_test::Records(doc)) {
        if (record.strMessage.find(msg::kPatternValue) != std::string::npos)
            return record.eType == XML::E_ERROR && record.nLine == 2 ? "stopped" : "stopped while building";
        if (record.strMessage.find("may take the matcher") != std::string::npos) return "refused";
    }
    return kelxml_test::Dump(doc).substr(0, 300);
}

// Runs load on a thread of stackBytes (0: the calling thread) and returns what it returned.
std::string OnThread(std::size_t stackBytes, const std::function<std::string()>& load) {
    if (stackBytes == 0) return load();
    struct Job {
        const std::function<std::string()>* load;
        std::string outcome;
    } job{&load, {}};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stackBytes);
    pthread_t thread;
    const auto run = [](void* argument) -> void* {
        auto* const j = static_cast<Job*>(argument);
        j->outcome = (*j->load)();
        return nullptr;
    };
    const bool started = pthread_create(&thread, &attributes, run, &job) == 0;
    pthread_attr_destroy(&attributes);
    if (!started) return "no thread";
    pthread_join(thread, nullptr);
    return job.outcome;
}

// A small thread's stack (the matcher's frames are Xerces' own: the same under the sanitizer).
constexpr std::size_t kSmallStack = std::size_t{256} << 10;

struct Shape {
    const char* pattern;
    const char* unit;  // a value is unit repeated, then tail: it matches the pattern
    const char* tail;
    enum { Recursive, Flat, Refused } kind;
};
const Shape kShapes[] = {
    {"(a|b)+c", "a", "c", Shape::Recursive},
    {"(a|b)*c", "ab", "c", Shape::Recursive},
    {"((a|b)+)+c", "b", "c", Shape::Recursive},
    {"(a|b){1,}c", "a", "c", Shape::Recursive},
    {"(a|b)+(a|b)+c", "ab", "c", Shape::Recursive},
    {"(a|bc)+d", "abc", "d", Shape::Recursive},
    {"(ab)+c", "ab", "c", Shape::Flat},
    {"(.)*c", "x", "c", Shape::Flat},
    {"[ab]+c", "a", "c", Shape::Flat},
    {"((a|b)|c)+d", "a", "d", Shape::Refused},
    {"(((a|b)|c)|d)*e", "a", "e", Shape::Refused},
};

std::string Repeat(const std::string& unit, std::size_t length) {
    std::string value;
    while (value.size() + unit.size() <= length) value += unit;
    return value;
}

// Every shape, with a value of each length in the attribute and in the text, through the
// schema the document names, on the main thread and on a small one.
TEST(PatternGuard, LongValuesAreStoppedNotOverflowed) {
    const TempDir dir;
    for (const Shape& shape : kShapes) {
        kelxml_test::WriteFile(dir.File("s.xsd"), Schema(shape.pattern));
        const std::string fine = std::string(shape.unit) + shape.tail;
        for (const std::size_t length : {256, 2000, 40000}) {
            const std::string value = Repeat(shape.unit, length - std::strlen(shape.tail)) + shape.tail;
            for (const bool inText : {false, true}) {
                const std::string file = dir.File("d.xml");
                kelxml_test::WriteFile(file, Document(true, inText ? fine : value, inText ? value : fine));
                for (const std::size_t stack : {std::size_t{0}, kSmallStack}) {
                    SCOPED_TRACE(std::string(shape.pattern) + ", " + std::to_string(length) + " characters in the " +
                                 (inText ? "text" : "attribute") + (stack ? ", small thread" : ", main thread"));
                    const std::string outcome = kelxml_test::RunInChild(
                        [&] {
                            return OnThread(stack, [&] {
                                XML::CKelXML doc;
                                const bool loaded = doc.Load(file.c_str(), true);
                                return Outcome(loaded, doc);
                            });
                        },
                        120);
                    if (shape.kind == Shape::Refused)
                        EXPECT_EQ(outcome, "refused");
                    else if (shape.kind == Shape::Flat || length <= 256)
                        EXPECT_EQ(outcome, "clean");
                    else  // 2000 characters fit the main thread's stack only
                        EXPECT_EQ(outcome, length > 20000 || stack ? "stopped" : "clean");
                }
            }
        }
    }
}

// Grammars the caller names are guarded and judged too, and so are the values the schema
// itself holds (a default is checked against the pattern when the grammar is built), and the
// streaming walk.
TEST(PatternGuard, NamedGrammarsDefaultsAndWalksAreGuarded) {
    const TempDir dir;
    const std::string longValue = Repeat("a", 100000) + "c";
    const std::string file = dir.File("d.xml");
    const auto named = [&dir] {
        XML::sLoadOptions options;
        options.eMode = XML::E_LOAD_NAMED_GRAMMARS;
        options.vSchemas.push_back({"", dir.File("s.xsd")});
        return options;
    };
    struct Case {
        const char* name;
        std::string schema, document;
        std::function<bool(XML::CKelXML&)> load;
        const char* expected;
    };
    const Case cases[] = {
        {"named grammar, long attribute", Schema("(a|b)+c"), Document(false, longValue, "ac"),
         [&](XML::CKelXML& doc) { return doc.Load(file.c_str(), named()); }, "stopped"},
        {"named grammar, refused pattern", Schema("((a|b)|c)+d"), Document(false, "", "cd"),
         [&](XML::CKelXML& doc) { return doc.Load(file.c_str(), named()); }, "refused"},
        {"named grammar, long default", Schema("(a|b)+c", longValue), Document(false, "", "ac"),
         [&](XML::CKelXML& doc) { return doc.Load(file.c_str(), named()); }, "stopped while building"},
        {"named schema, long default", Schema("(a|b)+c", longValue), Document(true, "", "ac"),
         [&](XML::CKelXML& doc) { return doc.Load(file.c_str(), true); }, "stopped while building"},
        {"count", Schema("(a|b)+c"), Document(true, "ac", longValue),
         [&](XML::CKelXML& doc) {
             unsigned long count = 0;
             return doc.GetNbElementsInFile(file.c_str(), true, "r", count);
         },
         "stopped"},
    };
    for (const Case& c : cases) {
        kelxml_test::WriteFile(dir.File("s.xsd"), c.schema);
        kelxml_test::WriteFile(file, c.document);
        for (const std::size_t stack : {std::size_t{0}, kSmallStack}) {
            SCOPED_TRACE(std::string(c.name) + (stack ? ", small thread" : ", main thread"));
            const std::string outcome = kelxml_test::RunInChild(
                [&] {
                    return OnThread(stack, [&] {
                        XML::CKelXML doc;
                        const bool loaded = c.load(doc);
                        return Outcome(loaded, doc);
                    });
                },
                120);
            EXPECT_EQ(outcome, c.expected);
        }
    }
}

}  // namespace
