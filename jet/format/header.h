// Page 0, the database definition page.
//
// On disk a fixed region of page 0 (0x18..0x95 in Jet 3, 0x18..0x97 in Jet 4) is XORed with the
// RC4 key stream of the constant key C7 DA 39 6B; everything here works on the decoded page.
// Decoded layout (offsets in hex):
//   00  page type 0, then 01 00 00
//   04  engine name, 15 ASCII bytes: "Standard Jet DB" (a workgroup file: "Jet System DB ")
//   14  version: 0 Jet 3, 1 Jet 4 (2 and up are ACE, not supported)
//   3A  Jet 3 sort order (LCID)          3C  code page
//   3E  page-encryption key (0 = pages stored in clear)
//   42  password: Jet 3 20 code-page bytes; Jet 4 40 bytes of UCS-2 XORed with the 4 bytes of
//       floor(creation date) repeated
//   6E  Jet 4 sort order: u16 LCID, u8 0, u8 sort version
//   72  Jet 4 creation date (double, days since 1899-12-30)
// Every other byte (unknown fields, the commit words at the end) is kept in `raw` so the page
// can be written back unchanged apart from the fields set on purpose.
#pragma once

#include <cstdint>
#include <string>

#include "jet/base/bytes.h"
#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

struct DatabaseHeader {
    Version version = Version::kJet4;
    std::string engine_name;     // "Standard Jet DB" or "Jet System DB"
    uint16_t sort_order = 1033;  // LCID of the default collating order
    uint8_t sort_version = 0;    // Jet 4 only
    uint16_t code_page = 1252;
    uint32_t encryption_key = 0;  // 0 = pages not encrypted
    double creation_date = 0;     // Jet 4 only; 0 in Jet 3
    std::u16string password;      // empty = none
    Bytes raw;                    // the whole decoded page 0
};

// Offsets of page 0 (decoded).
constexpr size_t kHeaderEngineName = 0x04;
constexpr size_t kHeaderVersion = 0x14;
constexpr size_t kHeaderMaskStart = 0x18;
constexpr size_t kHeaderJet3SortOrder = 0x3A;
constexpr size_t kHeaderCodePage = 0x3C;
constexpr size_t kHeaderEncryptionKey = 0x3E;
constexpr size_t kHeaderPassword = 0x42;
constexpr size_t kHeaderJet4SortOrder = 0x6E;
constexpr size_t kHeaderJet4CreationDate = 0x72;

// Length of the masked region: 126 bytes in Jet 3, 128 in Jet 4.
size_t HeaderMaskLength(Version version);

// XORs the masked region of `page` in place (decoding and encoding are the same operation).
void ApplyHeaderMask(Bytes& page, Version version);

// The version byte of an encoded page 0 (not masked): throws 3343 when the page is too short,
// is not a Jet page 0, or holds a version other than Jet 3 / Jet 4 (ACE, unknown).
Version DetectVersion(ByteSpan encoded_page0);

// Where the commit words (256 u16 entries, one per user slot of the lock file) start on page 0;
// they run to the end of the page.
constexpr size_t CommitWordsOffset(Version v) {
    return v == Version::kJet3 ? 0x600 : 0xE00;
}

// The commit words of page 0 (docs/format.md 2.4). Entries 0 and 1 vary from file to file in
// files Access closed cleanly, so every rewrite keeps them as they are; entries 2..255 (the
// shared users of lock-file slots 2..255) read 00 01 in a file nobody has open.
constexpr uint8_t kClosedCommitWord[2] = {0x00, 0x01};
constexpr size_t kFirstUserCommitWord = 2;
// Marks entries 2..255 closed. REQUIRES: page0 holds a whole page 0 of `version`.
void CloseUserCommitWords(Bytes& page0, Version version);
// True when some entry 2..255 is not closed: a user that never closed the database.
bool UserCommitWordsMarked(ByteSpan page0, Version version);

// Decodes page 0 as stored. REQUIRES: at least PageSize(version) bytes. Throws 3343 when the
// page is not a Jet 3 / Jet 4 database header.
DatabaseHeader DecodeHeader(ByteSpan encoded_page0);

// What a rewrite of a database (compaction, repair) does with its page encoding: the one rule,
// which every rewrite refers to. By default (kKeep), as DAO's CompactDatabase with its options
// omitted, an encoded (RC4, mdb_file.h) source gives an output encoded under the same page key
// and a clear source a clear output; repair always keeps it (docs/format.md 13).
enum class PageEncoding {
    kKeep,  // as the source: an encoded source stays encoded under its own key, a clear one clear
    kDecrypt,  // every page in clear (key 0)
    kEncrypt,  // every page after page 0 encoded: under the source's key, or NewEncryptionKey's
};

// A page key for a database stored in clear: non-zero, and a function of page 0 (decoded, its
// key and commit words left out), so that the same source always gets the same key and an
// output never depends on the clock.
uint32_t NewEncryptionKey(const DatabaseHeader& header);

// The page key of a rewrite of `source` (0 = clear).
uint32_t EncryptionKeyFor(const DatabaseHeader& source, PageEncoding encoding);

// Builds page 0 as stored: starts from `header.raw` (or an empty page of the version's size
// when raw is empty), writes version, sort order, code page, encryption key, creation date and
// the password (re-masked with the creation date in Jet 4), then applies the RC4 mask.
Bytes EncodeHeader(const DatabaseHeader& header);

}  // namespace jet
