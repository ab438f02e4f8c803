// The digest of Jet 3 rows in a code page takes texts from their stored bytes or from their
// values, and both must give one digest for one value: random byte strings of every length
// around the hash's 64-byte blocks, given as bytes, digest as the texts they decode to. And the
// code page must not make two texts digest alike: a text with a character the page lacks (which
// encodes as '?') against the text with '?', an empty text against a null, in every page that
// maps every byte back.
#include "jet/read/content_checksum.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "jet/format/text_codec.h"

namespace jet {
namespace {

ContentChecksum Digest(uint16_t code_page, const Row& row,
                       const std::vector<StoredTexts::Text>* texts = nullptr) {
    ContentChecksum digest(code_page);
    digest.Add(row, texts);
    return digest;
}

TEST(ContentChecksum, ATextDigestsAlikeFromItsCodePageBytesAndFromItsValueAndOnlyThen) {
    EXPECT_TRUE(CodePageMapsEveryByteBack(1252));
    std::mt19937 rng(12);
    size_t pages = 0;
    for (const uint16_t code_page : {uint16_t{1250}, uint16_t{1251}, uint16_t{1252}}) {
        if (!CodePageMapsEveryByteBack(code_page)) continue;
        ++pages;
        SCOPED_TRACE("code page " + std::to_string(code_page));
        for (size_t size = 0; size < 160; ++size) {
            Bytes bytes(size);
            for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng() % 4 ? 'a' + rng() % 26 : rng());
            const std::u16string text = DecodeCodePage(bytes, code_page);
            const std::vector<StoredTexts::Text> given = {{}, {bytes, true}};
            EXPECT_EQ(Digest(code_page, {int64_t{7}, std::monostate{}}, &given),
                      Digest(code_page, {int64_t{7}, text}))
                << size;
            // Told apart as UTF-16 texts are: a character the page lacks is not its '?'.
            std::u16string foreign = text + u"\u4E2D";
            EXPECT_NE(Digest(code_page, {int64_t{7}, foreign}),
                      Digest(code_page, {int64_t{7}, text + u"?"}));
            EXPECT_EQ(Digest(code_page, {int64_t{7}, foreign}), Digest(0, {int64_t{7}, foreign}));
            if (size > 0) {
                Bytes changed = bytes;
                changed[rng() % size] ^= static_cast<uint8_t>(1u << (rng() % 8));
                const std::vector<StoredTexts::Text> other = {{}, {changed, true}};
                EXPECT_NE(Digest(code_page, {int64_t{7}, std::monostate{}}, &other),
                          Digest(code_page, {int64_t{7}, text}));
            }
        }
        const std::vector<StoredTexts::Text> empty = {{ByteSpan(), true}};
        EXPECT_EQ(Digest(code_page, {std::monostate{}}, &empty),
                  Digest(code_page, {std::u16string()}));
        EXPECT_NE(Digest(code_page, {std::monostate{}}, &empty),
                  Digest(code_page, {std::monostate{}}));
    }
    EXPECT_GT(pages, 0u);
}

}  // namespace
}  // namespace jet
