// ParserObserver: what one concern of a parse (a bound, the notes Save needs, the rules of a load
// mode, a walk) is told of the parser's events. Each observer says which events it wants, and the
// parser calls it for those only, in the order the observers were registered. Internal to the
// library.
#ifndef KELXML_INTERNAL_PARSEROBSERVER_H
#define KELXML_INTERNAL_PARSEROBSERVER_H

#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/framework/XMLEntityDecl.hpp>
#include <xercesc/framework/XMLErrorReporter.hpp>
#include <xercesc/util/RefVectorOf.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class DTDElementDecl;
class DTDAttDef;
XERCES_CPP_NAMESPACE_END

namespace XML::internal {

// A start tag as the parser reports it.
struct StartTag {
    const xercesc::XMLElementDecl& decl;
    unsigned int urlId;
    const XMLCh* prefix;
    const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes;
    XMLSize_t count;
    bool isEmpty;
    bool isRoot;
};

// A diagnostic as the scanner reports it.
struct Diagnostic {
    unsigned int code;
    const XMLCh* domain;
    xercesc::XMLErrorReporter::ErrTypes type;
    const XMLCh* text;
    const XMLCh* systemId;
    const XMLCh* publicId;
    XMLFileLoc line;
    XMLFileLoc column;
};

class ParserObserver {
public:
    // "Before" events come before the parser builds anything for them (an observer that throws
    // there refuses the document), the others after.
    enum Event : unsigned {
        kStartDocument,
        kXMLDecl,
        kDoctype,
        kStartIntSubset,
        kEndIntSubset,
        kElementDecl,     // before
        kAttDef,          // before
        kEndAttList,      // before
        kStartElement,    // before
        kStartedElement,  // after
        kEndElement,
        kCharacters,     // before; text and ignorable white space
        kStartEntity,    // before
        kStartedEntity,  // after
        kEndEntity,
        kComment,
        kPI,
        kError,
        kEventCount
    };
    using Events = unsigned;
    static constexpr Events Bit(Event event) { return Events{1} << event; }

    ParserObserver() = default;
    ParserObserver(const ParserObserver&) = delete;
    ParserObserver& operator=(const ParserObserver&) = delete;
    virtual ~ParserObserver() = default;

    // The events this observer is called for: read when it is registered (or the parser refreshed).
    virtual Events Wanted() const = 0;

    virtual void StartDocument() {}
    virtual void XMLDecl(const XMLCh* /*version*/) {}
    virtual void Doctype(const XMLCh* /*systemId*/, bool /*hasIntSubset*/, bool /*hasExtSubset*/) {}
    virtual void StartIntSubset() {}
    virtual void EndIntSubset() {}
    virtual void ElementDecl(const xercesc::DTDElementDecl& /*decl*/) {}
    virtual void AttDef(const xercesc::DTDElementDecl& /*element*/, const xercesc::DTDAttDef& /*attribute*/) {}
    virtual void EndAttList(const xercesc::DTDElementDecl& /*element*/) {}
    virtual void StartElement(const StartTag& /*tag*/) {}
    virtual void StartedElement(const StartTag& /*tag*/) {}
    // emptyTag: the end of an element written as an empty tag, reported from within its start.
    virtual void EndElement(bool /*emptyTag*/) {}
    virtual void Characters(const XMLCh* /*chars*/, XMLSize_t /*length*/) {}
    virtual void StartEntity(const xercesc::XMLEntityDecl& /*entity*/) {}
    virtual void StartedEntity() {}
    virtual void EndEntity() {}
    virtual void Comment(const XMLCh* /*text*/) {}
    virtual void PI(const XMLCh* /*target*/, const XMLCh* /*data*/) {}
    // True when the observer has dealt with the diagnostic: the parser's handler then does not see it.
    virtual bool Error(const Diagnostic& /*diagnostic*/) { return false; }
};

}  // namespace XML::internal

#endif
