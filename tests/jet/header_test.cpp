#include "jet/format/header.h"

#include <gtest/gtest.h>

#include "jet/base/error.h"
#include "jet/base/rc4.h"

namespace jet {
namespace {

TEST(Rc4, MaskKeyStreamMatchesTheKnownBytes) {
    Bytes zeros(8, 0);
    const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4Apply(key, zeros);
    EXPECT_EQ(zeros, (Bytes{0xb5, 0x6f, 0x03, 0x62, 0x61, 0x08, 0xc2, 0x55}));
}

DatabaseHeader NewHeader(Version v) {
    DatabaseHeader h;
    h.version = v;
    h.code_page = 1252;
    h.sort_order = 1033;
    h.creation_date = v == Version::kJet4 ? 38135.74 : 0;
    return h;
}

TEST(Header, EncodeDecodeRoundTripsBothVersions) {
    for (Version v : {Version::kJet3, Version::kJet4}) {
        DatabaseHeader h = NewHeader(v);
        h.password = u"segredo";
        const Bytes page = EncodeHeader(h);
        ASSERT_EQ(page.size(), PageSize(v));
        EXPECT_EQ(page[0x14], v == Version::kJet3 ? 0 : 1);  // outside the mask
        const DatabaseHeader back = DecodeHeader(page);
        EXPECT_EQ(back.version, v);
        EXPECT_EQ(back.engine_name, "Standard Jet DB");
        EXPECT_EQ(back.code_page, 1252);
        EXPECT_EQ(back.sort_order, 1033);
        EXPECT_EQ(back.password, u"segredo");
        EXPECT_EQ(back.creation_date, h.creation_date);
        EXPECT_EQ(EncodeHeader(back), page);  // raw carries everything over
    }
}

TEST(Header, Jet4PasswordAreaWithoutPasswordIsTheDateMask) {
    const Bytes page = EncodeHeader(NewHeader(Version::kJet4));
    Bytes decoded = page;
    ApplyHeaderMask(decoded, Version::kJet4);
    // floor(38135.74) = 38135 = 0x94F7 -> f7 94 00 00 repeated.
    for (size_t i = 0; i < 40; i += 4) {
        EXPECT_EQ(decoded[0x42 + i], 0xF7);
        EXPECT_EQ(decoded[0x43 + i], 0x94);
    }
}

TEST(Header, RejectsWhatIsNotJet3OrJet4) {
    DatabaseHeader h = NewHeader(Version::kJet4);
    Bytes page = EncodeHeader(h);
    Bytes ace = page;
    ace[0x14] = 2;
    EXPECT_THROW(DecodeHeader(ace), JetError);
    Bytes other = page;
    other[4] = 'X';
    EXPECT_THROW(DecodeHeader(other), JetError);
    EXPECT_THROW(DecodeHeader(ByteSpan(page).first(100)), JetError);
    try {
        DecodeHeader(ace);
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), kUnrecognizedFormat);
    }
}

}  // namespace
}  // namespace jet
