#include "TestSupport.h"

#include <xercesc/util/XMLString.hpp>

#include <utility>

using xercesc::XMLString;
using XML::XStr;

TEST(XStr, ConvertsEachWayAndKeepsOnlyTheConvertedForm) {
    const XStr wide("caf\xC3\xA9 <&>");
    ASSERT_NE(wide.unicodeForm(), nullptr);
    EXPECT_EQ(wide.localForm(), nullptr);
    EXPECT_EQ(XMLString::stringLen(wide.unicodeForm()), 8u);  // é is one UTF-16 unit
    EXPECT_EQ(wide.unicodeForm()[3], 0xE9);

    const XStr local(wide.unicodeForm());
    ASSERT_NE(local.localForm(), nullptr);
    EXPECT_EQ(local.unicodeForm(), nullptr);
    EXPECT_STREQ(local.localForm(), "caf\xC3\xA9 <&>");
}

TEST(XStr, NullSourceGivesNullForm) {
    EXPECT_EQ(XStr(static_cast<const char*>(nullptr)).unicodeForm(), nullptr);
    EXPECT_EQ(XStr(static_cast<const XMLCh*>(nullptr)).localForm(), nullptr);
    EXPECT_EQ(XStr::ToLocal(nullptr), "");
}

TEST(XStr, CopiesOwnTheirTextAndSurviveTheOriginal) {
    auto original = std::make_unique<XStr>("alpha");
    const XStr copy(*original);
    XStr assigned("beta");
    assigned = *original;  // the old "beta" buffer is released (the leak checker watches)
    EXPECT_NE(copy.unicodeForm(), original->unicodeForm());
    original.reset();
    EXPECT_EQ(XStr::ToLocal(copy.unicodeForm()), "alpha");
    EXPECT_EQ(XStr::ToLocal(assigned.unicodeForm()), "alpha");

    XStr self("gamma");
    XStr& alias = self;
    self = alias;
    EXPECT_EQ(XStr::ToLocal(self.unicodeForm()), "gamma");
}

TEST(XStr, MovesLeaveTheSourceEmpty) {
    XStr source("delta");
    const XMLCh* buffer = source.unicodeForm();
    XStr moved(std::move(source));
    EXPECT_EQ(moved.unicodeForm(), buffer);
    EXPECT_EQ(source.unicodeForm(), nullptr);  // NOLINT(bugprone-use-after-move): moved-from state is specified

    XStr target(XStr("epsilon").unicodeForm());
    target = std::move(moved);
    EXPECT_EQ(target.unicodeForm(), buffer);
    EXPECT_EQ(target.localForm(), nullptr);
}
