// ExceptionText: the one translation of an exception caught anywhere in the library (the
// parser's, the DOM's, a conversion's, an allocation failure) into the text of its record.
#ifndef KELXML_INTERNAL_EXCEPTIONTEXT_H
#define KELXML_INTERNAL_EXCEPTIONTEXT_H

#include <string>

namespace XML::internal {

// The message of the exception being handled; call it only inside a catch block. Never throws:
// when the message itself cannot be made, the out-of-memory text stands for it.
std::string CurrentExceptionText() noexcept;

}  // namespace XML::internal

#endif
