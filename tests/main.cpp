// The test program's entry point: the parser library is started once, as a host would.
#include <XML/CKelXML.h>

#include <gtest/gtest.h>

namespace {
class XmlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(XML::CKelXML::initXmlAPI()); }
    void TearDown() override { XML::CKelXML::TerminateXmlAPI(); }
};
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new XmlEnvironment);
    return RUN_ALL_TESTS();
}
