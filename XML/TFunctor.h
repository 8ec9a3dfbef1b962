// TFunctor: the callback a caller implements for CKelXML::LoopElements.
#ifndef KELXML_TFUNCTOR_H
#define KELXML_TFUNCTOR_H

#include <XML/KelXMLExport.h>

#include <xercesc/util/XercesDefs.hpp>

#include <string>

XERCES_CPP_NAMESPACE_BEGIN
class DOMNode;
XERCES_CPP_NAMESPACE_END

namespace XML {

class KELXML_EXPORT TFunctor {
public:
    // Called once per visited node. node is never null; tagName is the node's name; text is
    // its whole text content; attributeValues holds one string per requested attribute (empty
    // when absent) and is valid only during the call; userData is the caller's pointer.
    // The verdict decides, with the stop flags of LoopElements, whether the walk goes on.
    virtual bool operator()(xercesc::DOMNode* node, std::string tagName, std::string text, std::string* attributeValues,
                            void* userData) = 0;
    virtual ~TFunctor() = default;

protected:
    TFunctor() = default;
    TFunctor(const TFunctor&) = default;
    TFunctor& operator=(const TFunctor&) = default;
};

}  // namespace XML

#endif
