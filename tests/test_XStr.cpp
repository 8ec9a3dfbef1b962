// XStr: one conversion each way, holding only the converted form; copies own their text, moves
// empty the source (the leak checker watches the buffers).
#include "TestSupport.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/XMLString.hpp>

#include <utility>

using XML::XStr;

TEST(XStr, ConvertsEachWayAndOwnsItsText) {
    const XStr wide("caf\xC3\xA9 <&>");
    EXPECT_EQ(wide.localForm(), nullptr);
    ASSERT_EQ(xercesc::XMLString::stringLen(wide.unicodeForm()), 8u);  // é is one UTF-16 unit
    EXPECT_EQ(wide.unicodeForm()[3], 0xE9);
    const XStr local(wide.unicodeForm());
    EXPECT_EQ(local.unicodeForm(), nullptr);
    EXPECT_STREQ(local.localForm(), "caf\xC3\xA9 <&>");
    EXPECT_EQ(XStr(static_cast<const char*>(nullptr)).unicodeForm(), nullptr);
    EXPECT_EQ(XStr(static_cast<const XMLCh*>(nullptr)).localForm(), nullptr);
    EXPECT_EQ(XStr::ToLocal(nullptr), "");

    auto original = std::make_unique<XStr>("alpha");
    const XStr copy(*original);
    XStr assigned("beta"), self("gamma");
    assigned = *original;
    self = *&self;
    EXPECT_NE(copy.unicodeForm(), original->unicodeForm());
    original.reset();
    EXPECT_EQ(XStr::ToLocal(copy.unicodeForm()) + XStr::ToLocal(assigned.unicodeForm()), "alphaalpha");
    EXPECT_EQ(XStr::ToLocal(self.unicodeForm()), "gamma");

    const XMLCh* buffer = self.unicodeForm();
    XStr moved(std::move(self));
    EXPECT_EQ(self.unicodeForm(), nullptr);  // NOLINT(bugprone-use-after-move): moved-from state is specified
    XStr target(wide.unicodeForm());
    target = std::move(moved);
    EXPECT_EQ(target.unicodeForm(), buffer);
    EXPECT_EQ(target.localForm(), nullptr);
}
