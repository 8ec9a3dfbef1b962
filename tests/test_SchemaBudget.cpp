// SchemaBudget: the patterns of schema facets, judged before the validator compiles them
// (data/schema_patterns.tsv). Whole schemas are judged through loads in data/load_limits.tsv.
#include "TestSupport.h"

#include "XML/internal/SchemaBudget.h"

using namespace kelxml_test;

TEST(SchemaBudget, Patterns) {
    for (const auto& row : Table(KELXML_TEST_DATA "/schema_patterns.tsv")) {
        const std::string refusal = XML::internal::PatternRefusal(row[0]);
        EXPECT_TRUE(row[1] == "-" ? refusal.empty() : refusal.find(row[1]) != std::string::npos)
            << row[0] << ": " << refusal;
    }
}
