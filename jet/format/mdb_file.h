// The page file: a Jet database as a sequence of fixed-size pages (2048 bytes in Jet 3, 4096
// in Jet 4), page n at byte n * page_size. Page 0 is the header (header.h). When the header's
// encryption key is non-zero, every other page is RC4-encrypted with the 4-byte key
// (key XOR page number); ReadPage decrypts and WritePage encrypts, so the layers above always
// see clear pages.
//
// A file whose length is not a multiple of the page size (a file cut short while being
// written) still opens: the whole pages are readable, and reading the partial or any missing
// page raises 3343, so tables on intact pages stay readable. All I/O goes through jet::Env.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/env.h"
#include "jet/format/header.h"
#include "jet/format/schema.h"

namespace jet {

struct OpenOptions {
    std::string password;   // UTF-8; checked only when the database has one
    bool writable = false;  // open read-write (needed by WritePage)
    // Pages fetched by one read from the file, kept for the reads that follow (0: one page per
    // read, nothing kept). Only for a file no one else writes while it is open: one the caller
    // holds behind the open gate, or its own new file. Pages written through this handle are
    // never served stale.
    uint32_t read_ahead_pages = 0;
};

// The read-ahead of the whole-file scans (a rebuild's source, its check of the new file):
// 64 pages, 128 KB in Jet 3, 256 KB in Jet 4.
inline constexpr uint32_t kScanReadAheadPages = 64;

// Translates a file-system failure into the Jet error DAO gives for it: ENOENT 3024, a path
// through a missing folder or a non-folder 3044, EACCES/EPERM/EROFS 3051, ENOSPC 61, EIO 3040,
// anything else 3043.
[[noreturn]] void RaiseOsError(const OsError& error, const std::string& path);

class MdbFile {
  public:
    // Opens and validates the header. Errors: 3024 missing file, 3044 a folder or a path through
    // a missing folder, 3051 no permission, 3343 not a Jet 3 / Jet 4 database (incl. ACE, too
    // short, damaged header), 3031 a password-protected database opened without its password.
    static std::unique_ptr<MdbFile> Open(Env* env, const std::string& path,
                                         const OpenOptions& options = {});

    // Opens a file whose page 0 is lost as if `header` (decoded) were its page 0, which is
    // not read: for a repair that rebuilt the header from the other pages. No password check.
    // Errors as Open, but for the header's.
    static std::unique_ptr<MdbFile> OpenWithHeader(Env* env, const std::string& path,
                                                   const OpenOptions& options,
                                                   const DatabaseHeader& header);

    // A reader of a file this process is still writing (a rebuild reads its output back as it
    // goes): page 0 is not written yet, so its header is the writer's, and only the pages the
    // writer says are in the file are read: `page_count` of them, raised by ExtendTo.
    // Read-only.
    static std::unique_ptr<MdbFile> OpenBeingWritten(Env* env, const std::string& path,
                                                     const DatabaseHeader& header,
                                                     uint32_t page_count,
                                                     uint32_t read_ahead_pages);
    // More pages of a file being written are in it. Pages once readable never change.
    void ExtendTo(uint32_t page_count) { page_count_ = std::max(page_count_, page_count); }

    MdbFile(const MdbFile&) = delete;
    MdbFile& operator=(const MdbFile&) = delete;

    Version version() const { return header_.version; }
    uint32_t page_size() const { return page_size_; }
    // Whole pages in the file.
    uint32_t page_count() const { return page_count_; }
    const DatabaseHeader& header() const { return header_; }
    const std::string& path() const { return path_; }
    bool writable() const { return writable_; }
    bool encrypted() const { return header_.encryption_key != 0; }
    // The open file, for byte-range locks and raw access by the layers that need them.
    File& file() { return *file_; }  // REQUIRES: not closed
    // Closes the file (releasing its locks); path, header and page count stay. No page may be
    // read or written after it.
    void Close() { file_.reset(); }
    // Another reader of the same open file, with a read-ahead of its own, so that a second
    // thread can scan the file while this one reads on (REQUIRES: the Env that opened it
    // allows threads; no page is written meanwhile). The file stays open until both
    // are gone. Read-only: WritePage raises 3027.
    std::unique_ptr<MdbFile> SecondReader(uint32_t read_ahead_pages) const;

    // The clear bytes of page n (page_size bytes). Throws 3343 when n is past the end.
    Bytes ReadPage(uint32_t n);
    // Same, into `out` (resized), to reuse a buffer.
    void ReadPage(uint32_t n, Bytes& out);
    // The clear bytes of page n without a copy when the read-ahead holds them; else read into
    // `scratch`. Valid until the next read or write through this file.
    ByteSpan ViewPage(uint32_t n, Bytes& scratch);
    // Writes page n (clear bytes, page_size of them); encrypts as the file does. A page past the
    // end extends the file. REQUIRES: opened writable (else 3027).
    void WritePage(uint32_t n, ByteSpan clear_page);

    // Raises 3343 naming this file and where the damage is.
    [[noreturn]] void Corrupt(const std::string& detail) const;

  private:
    MdbFile() = default;
    // Open and OpenWithHeader: the header read from page 0, or `assumed` when given.
    static std::unique_ptr<MdbFile> OpenAs(Env* env, const std::string& path,
                                           const OpenOptions& options,
                                           const DatabaseHeader* assumed);
    void SetReadAhead(uint32_t pages);
    void Crypt(uint32_t n, std::span<uint8_t> page) const;
    // Copies page n from the read-ahead chunks, fetching its chunk on a miss. False when the
    // chunk could not be read (the caller reads the page alone, so only a bad page fails).
    bool ReadAhead(uint32_t n, Bytes& out);

    // A run of pages read at once. Scans over the data pages and over the long-value pages
    // interleave, so a few chunks are kept, the oldest replaced first. The pages of an
    // encrypted file are decrypted in place when first served, so each is decrypted once
    // however often it is read.
    struct Chunk {
        uint32_t first = 0;
        uint32_t count = 0;  // 0: empty
        uint64_t used = 0;   // when last served
        // The pages as read: not zero-filled first, since a read fills what is served.
        std::unique_ptr<uint8_t[]> bytes;
        size_t capacity = 0;
        std::vector<bool> clear;  // by page of the chunk: decrypted already
    };
    static constexpr size_t kReadAheadChunks = 4;
    // The clear bytes of page n from its chunk, fetched on a miss; empty when the chunk cannot
    // be read.
    ByteSpan ChunkPage(uint32_t n);
    std::vector<Chunk> chunks_;
    uint32_t read_ahead_pages_ = 0;
    uint64_t reads_ = 0;

    std::shared_ptr<File> file_;
    std::string path_;
    DatabaseHeader header_;
    uint32_t page_size_ = 0;
    uint32_t page_count_ = 0;
    bool writable_ = false;
};

}  // namespace jet
