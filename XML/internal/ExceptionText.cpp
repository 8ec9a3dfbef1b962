#include "XML/internal/ExceptionText.h"

#include "XML/XStr.h"
#include "XML/internal/Messages.h"

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include <new>

namespace XML::internal {

using namespace xercesc;

std::string CurrentExceptionText() noexcept {
    try {
        try {
            throw;
        } catch (const SAXException& e) {
            return XStr::ToLocal(e.getMessage());
        } catch (const XMLException& e) {
            return XStr::ToLocal(e.getMessage());
        } catch (const DOMException& e) {
            return XStr::ToLocal(e.getMessage());
        } catch (const OutOfMemoryException&) {
            return msg::kOutOfMemory;
        } catch (const std::bad_alloc&) {
            return msg::kOutOfMemory;
        } catch (const std::exception& e) {
            return e.what();
        } catch (...) {
            return msg::kUnknownError;
        }
    } catch (...) {
        return msg::kOutOfMemory;  // the text itself could not be made
    }
}

}  // namespace XML::internal
