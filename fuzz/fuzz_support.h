// What the fuzz targets share: a few small databases the engine writes once, at start-up (the
// bases), and the programs of patches over them that most inputs are.
//
// A patch program, byte by byte:
//   [0]        the base: its value modulo the number of bases
//   then up to kMaxPatches patches, each
//     [page]   u8, modulo the base's pages
//     [offset] u16 little-endian, modulo the page size
//     [count]  u8: that many bytes follow (fewer when the input ends) and overwrite the page
//              from the offset on, running into the next pages and stopping at the end of the
//              file; a count of 0 cuts the file at that place instead
// The patches are made on the clear image of the base: page 0 with its header unmasked and
// every other page decoded, so a patch sets the value a reader sees (a header field, a row
// offset) even in an encoded base. The file handed to the engine is that image stored as the
// base stores it: the header masked and the pages encoded under the base's page key.
//
// Every target's entry point is LLVMFuzzerTestOneInput; built without libFuzzer (gcc, the
// ordinary suite), replay_main.cpp runs it over the files of folders (fuzz/regressions/,
// fuzz/seeds/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/mdb_file.h"
#include "jet/format/schema.h"
#include "jet/testing/damage.h"
#include "jet/testing/memory_env.h"

namespace fuzz {

using jet::Blob;
using jet::MemoryEnv;

// Reads an input as a little program: past its end every read gives zeros.
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool more(size_t n = 1) const { return at_ + n <= size_; }
    uint8_t Byte() { return more() ? data_[at_++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return v;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// One base, as the engine wrote it. Every base holds the client table `tavo` (id Long primary
// key, nome Text, bloqueado: Yes/No in the clear bases, Integer in the encoded one; five rows);
// the clear ones also hold `tipos`: a column of every type, an index of each kind (primary key,
// unique, a descending one on two columns, a foreign key to tavo), nulls and extreme values, a
// memo kept in a chain of long-value pages, short ones kept in long-value rows, a deleted row,
// and a free page of stale bytes.
struct Base {
    std::string name;
    jet::Version version = jet::Version::kJet4;
    uint32_t page_size = 0;
    uint32_t page_key = 0;  // 0 = pages in clear
    std::string password;   // UTF-8; empty = none
    Blob stored;            // the file as written
    Blob clear;             // page 0 unmasked, every other page decoded
    uint32_t pages() const { return static_cast<uint32_t>(clear.size() / page_size); }
};

// jet3, jet4 (pages in clear), jet4-encoded-password (pages encoded, the password "fuzz").
// Written and checked at the first call; a base the checker does not find clean in strict mode
// stops the process, as the targets' invariants would mean nothing over it.
const std::vector<Base>& Bases();

constexpr int kMaxPatches = 8;

// Reads a patch program from `in` and makes its file in `file` (whose memory is reused: a
// target keeps one buffer, so that no execution allocates and faults in a file's worth of new
// memory); `*base` is the base it chose.
void ApplyPatches(Reader& in, const Base** base, Blob& file);

// The clear bytes of page `page` (not 0) of the file the last ApplyPatches made from `base`, as
// the engine reads them: the base's clear image for a page left alone, else the page decoded
// into `scratch`. Empty past the file's end. Valid until the next call.
jet::ByteSpan ClearPage(const Base& base, const Blob& file, uint32_t page, jet::Bytes& scratch);

// How a target opens a file made from `base` so that its pages are read once: a read-ahead
// that holds the whole file (every base fits in one chunk), and the base's password. Only for
// a file nothing else writes while it is open.
inline jet::OpenOptions WholeFileOpen(const Base& base) {
    jet::OpenOptions options;
    options.password = base.password;
    options.read_ahead_pages = jet::kScanReadAheadPages;
    return options;
}

// Where the targets keep their one database.
inline const std::string kDatabasePath = MemoryEnv::kFolder + "/db.mdb";

// Prints `what` with the target's name and aborts: a finding.
[[noreturn]] void Bug(const char* target, const std::string& what);

}  // namespace fuzz
