#include "jet/format/header.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "jet/base/rc4.h"
#include "jet/format/text_codec.h"

namespace jet {
namespace {

constexpr uint8_t kMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::string_view kStandardJet = "Standard Jet DB";
constexpr std::string_view kJetSystem = "Jet System DB";
constexpr size_t kJet3PasswordBytes = 20;
constexpr size_t kJet4PasswordBytes = 40;

// The 4-byte mask over the Jet 4 password: floor(creation date) as a little-endian u32.
std::array<uint8_t, 4> Jet4PasswordMask(double creation_date) {
    uint32_t day = 0;
    if (std::isfinite(creation_date) && creation_date >= -2147483648.0 &&
        creation_date < 2147483648.0)
        day = static_cast<uint32_t>(static_cast<int32_t>(std::floor(creation_date)));
    return {static_cast<uint8_t>(day), static_cast<uint8_t>(day >> 8),
            static_cast<uint8_t>(day >> 16), static_cast<uint8_t>(day >> 24)};
}

}  // namespace

size_t HeaderMaskLength(Version version) {
    return version == Version::kJet3 ? 126 : 128;
}

void ApplyHeaderMask(Bytes& page, Version version) {
    const size_t length = HeaderMaskLength(version);
    if (page.size() < kHeaderMaskStart + length) Corrupt("page 0 too short");
    Rc4Apply(kMaskKey, std::span<uint8_t>(page.data() + kHeaderMaskStart, length));
}

Version DetectVersion(ByteSpan page) {
    if (page.size() < 0x20 || page[0] != 0) Corrupt("not a Jet database header");
    std::string_view name(reinterpret_cast<const char*>(page.data()) + kHeaderEngineName, 15);
    const bool standard = name == kStandardJet;
    const bool system = name.substr(0, kJetSystem.size()) == kJetSystem;
    if (!standard && !system) Corrupt("not a Jet database header");
    switch (page[kHeaderVersion]) {
        case 0:
            return Version::kJet3;
        case 1:
            return Version::kJet4;
        default:
            Corrupt("unsupported database version " + std::to_string(page[kHeaderVersion]));
    }
}

DatabaseHeader DecodeHeader(ByteSpan encoded) {
    DatabaseHeader h;
    h.version = DetectVersion(encoded);
    const size_t page_size = PageSize(h.version);
    if (encoded.size() < page_size) Corrupt("page 0 too short");
    h.raw.assign(encoded.begin(), encoded.begin() + static_cast<std::ptrdiff_t>(page_size));
    ApplyHeaderMask(h.raw, h.version);
    const ByteSpan page(h.raw);

    std::string name(reinterpret_cast<const char*>(page.data()) + kHeaderEngineName, 15);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    h.engine_name = name;
    h.code_page = U16(page, kHeaderCodePage);
    h.encryption_key = U32(page, kHeaderEncryptionKey);
    if (h.version == Version::kJet3) {
        h.sort_order = U16(page, kHeaderJet3SortOrder);
        const ByteSpan pw = Sub(page, kHeaderPassword, kJet3PasswordBytes);
        size_t n = 0;
        while (n < pw.size() && pw[n] != 0) ++n;
        h.password = DecodeCodePage(pw.first(n), h.code_page);
    } else {
        h.sort_order = U16(page, kHeaderJet4SortOrder);
        h.sort_version = U8(page, kHeaderJet4SortOrder + 3);
        h.creation_date = F64(page, kHeaderJet4CreationDate);
        const auto mask = Jet4PasswordMask(h.creation_date);
        Bytes pw(kJet4PasswordBytes);
        for (size_t i = 0; i < pw.size(); ++i) pw[i] = page[kHeaderPassword + i] ^ mask[i % 4];
        std::u16string text = DecodeUcs2(pw);
        const size_t end = text.find(u'\0');
        if (end != std::u16string::npos) text.resize(end);
        h.password = text;
    }
    return h;
}

void CloseUserCommitWords(Bytes& page0, Version version) {
    const size_t commit = CommitWordsOffset(version);
    for (size_t entry = kFirstUserCommitWord; entry < 256; ++entry) {
        page0[commit + 2 * entry] = kClosedCommitWord[0];
        page0[commit + 2 * entry + 1] = kClosedCommitWord[1];
    }
}

bool UserCommitWordsMarked(ByteSpan page0, Version version) {
    const size_t commit = CommitWordsOffset(version);
    for (size_t entry = kFirstUserCommitWord; entry < 256; ++entry)
        if (page0[commit + 2 * entry] != kClosedCommitWord[0] ||
            page0[commit + 2 * entry + 1] != kClosedCommitWord[1])
            return true;
    return false;
}

uint32_t NewEncryptionKey(const DatabaseHeader& header) {
    // FNV-1a over the fields that a rewrite carries over unchanged.
    const size_t end = header.raw.size() >= 512 ? header.raw.size() - 512 : header.raw.size();
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < end; ++i) {
        const bool key_field = i >= kHeaderEncryptionKey && i < kHeaderEncryptionKey + 4;
        hash = (hash ^ (key_field ? 0 : header.raw[i])) * 16777619u;
    }
    return hash != 0 ? hash : 1;
}

uint32_t EncryptionKeyFor(const DatabaseHeader& source, PageEncoding encoding) {
    switch (encoding) {
        case PageEncoding::kKeep:
            return source.encryption_key;
        case PageEncoding::kDecrypt:
            return 0;
        case PageEncoding::kEncrypt:
            return source.encryption_key != 0 ? source.encryption_key : NewEncryptionKey(source);
    }
    return source.encryption_key;
}

Bytes EncodeHeader(const DatabaseHeader& h) {
    const size_t page_size = PageSize(h.version);
    Bytes page = h.raw;
    if (page.empty()) {
        page.assign(page_size, 0);
        page[1] = 1;
        std::memcpy(page.data() + kHeaderEngineName, kStandardJet.data(), kStandardJet.size());
    }
    page.resize(page_size, 0);
    page[kHeaderVersion] = h.version == Version::kJet3 ? 0 : 1;
    PutU16(page, kHeaderCodePage, h.code_page);
    PutU32(page, kHeaderEncryptionKey, h.encryption_key);
    if (h.version == Version::kJet3) {
        PutU16(page, kHeaderJet3SortOrder, h.sort_order);
        Bytes pw = EncodeCodePage(h.password, h.code_page);
        pw.resize(kJet3PasswordBytes, 0);
        std::memcpy(page.data() + kHeaderPassword, pw.data(), kJet3PasswordBytes);
    } else {
        PutU16(page, kHeaderJet4SortOrder, h.sort_order);
        page[kHeaderJet4SortOrder + 3] = h.sort_version;
        PutF64(page, kHeaderJet4CreationDate, h.creation_date);
        Bytes pw = EncodeUcs2(h.password);
        pw.resize(kJet4PasswordBytes, 0);
        const auto mask = Jet4PasswordMask(h.creation_date);
        for (size_t i = 0; i < kJet4PasswordBytes; ++i)
            page[kHeaderPassword + i] = pw[i] ^ mask[i % 4];
    }
    ApplyHeaderMask(page, h.version);
    return page;
}

}  // namespace jet
