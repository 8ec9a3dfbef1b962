// Uses the installed library through its public headers only; exits 0 when it works.
#include <XML/CKelXML.h>

#include <xercesc/dom/DOM.hpp>

#include <cstdio>

int main() {
    if (!XML::CKelXML::initXmlAPI()) return 1;
    int status = 1;
    {
        XML::CKelXML doc;
        const char text[] = "<config><port>8080</port></config>";
        if (doc.Load(static_cast<const void*>(text), sizeof text - 1) && doc.GetDocument() && doc.CreateDoc("fresh") &&
            doc.Save("/dev/null", false)) {
            std::puts("consumer: ok");
            status = 0;
        }
    }
    XML::CKelXML::TerminateXmlAPI();
    return status;
}
