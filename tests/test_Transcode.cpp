// Conversions between the local code page (UTF-8 here) and UTF-16 at any length: pieces cut
// between characters, refusals reported, and one text past the transcoder's own limit.
#include "TestSupport.h"

#include "XML/internal/Transcode.h"

#include <string>

#include <unistd.h>

using namespace XML::internal;

// Every cut of a piece size lands between characters: the same text as one conversion, both ways;
// a piece too short for one character has no cut and is refused, never a broken character.
TEST(Transcode, PiecesCutBetweenCharacters) {
    const std::string texts[] = {
        "caf\xC3\xA9 na\xC3\xAFve \xC3\xA9\xC3\xA9\xC3\xA9",    // 2 bytes
        "\xE2\x82\xAC\xE2\x82\xAC x \xE6\x97\xA5\xE6\x9C\xAC",  // 3 bytes
        "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"
        "a\xF0\x9F\x98\x80",                                       // surrogate pairs
        std::string(50, 'a') + "\xC3\xA9" + std::string(50, 'b'),  // ASCII pieces around one that is not
    };
    for (const std::string& text : texts) {
        const XString whole = XML::XStr(text.c_str()).unicodeForm();
        for (std::size_t piece = 4; piece <= 9; ++piece) {
            SCOPED_TRACE(text + ", pieces of " + std::to_string(piece));
            XString wide;
            ASSERT_TRUE(AppendUtf16(text.data(), text.size(), wide, piece));
            EXPECT_TRUE(wide == whole);
            std::string local = "kept ";
            ASSERT_TRUE(AppendLocal(wide.data(), wide.size(), local, piece / 2));
            EXPECT_EQ(local, "kept " + text);
        }
    }
    XString wide;
    EXPECT_FALSE(AppendUtf16(texts[2].data(), 8, wide, 3));
    const XString pair = XML::XStr(texts[2].c_str()).unicodeForm();
    std::string local;
    EXPECT_FALSE(AppendLocal(pair.data(), pair.size(), local, 1));
}

// The parser library's transcoder refuses 2^30 UTF-16 units and answered null, which the editing
// operations took for an empty text: such a text now converts whole.
TEST(Transcode, TextOfTwoToTheThirtyCharactersConvertsWhole) {
    const long pages = ::sysconf(_SC_AVPHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    if (kelxml_test::UnderAddressSanitizer() || static_cast<double>(pages) * static_cast<double>(pageSize) < 4e9)
        GTEST_SKIP() << "needs 4 GB of free memory, and long under AddressSanitizer";
    const std::size_t length = std::size_t(1) << 30;
    const XML::XStr wide(std::string(length, 'x').c_str());
    ASSERT_NE(wide.unicodeForm(), nullptr);
    EXPECT_EQ(wide.unicodeForm()[length - 1], u'x');
    EXPECT_EQ(wide.unicodeForm()[length], u'\0');
}
