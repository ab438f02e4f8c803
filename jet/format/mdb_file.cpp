#include "jet/format/mdb_file.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "jet/base/error.h"
#include "jet/base/rc4.h"
#include "jet/format/text_codec.h"

namespace jet {

void RaiseOsError(const OsError& error, const std::string& path) {
    switch (error.code()) {
        case ENOENT:
            Raise(kFileNotFound, path);
        case ENOTDIR:
        case EISDIR:
        case ENAMETOOLONG:
        case ELOOP:
            Raise(kNotValidPath, path);
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            Raise(kCannotOpenFile, path);
        case ENOSPC:
#ifdef EDQUOT  // absent on Windows, where the Env reports a full quota as ENOSPC
        case EDQUOT:
#endif
            Raise(kDiskFull, path);
        case EIO:
            Raise(kDiskReadError, path);
        default:
            RaiseWithDetail(kDiskOrNetworkError, path, error.what());
    }
}

std::unique_ptr<MdbFile> MdbFile::Open(Env* env, const std::string& path,
                                       const OpenOptions& options) {
    return OpenAs(env, path, options, nullptr);
}

std::unique_ptr<MdbFile> MdbFile::OpenWithHeader(Env* env, const std::string& path,
                                                 const OpenOptions& options,
                                                 const DatabaseHeader& header) {
    return OpenAs(env, path, options, &header);
}

std::unique_ptr<MdbFile> MdbFile::OpenAs(Env* env, const std::string& path,
                                         const OpenOptions& options,
                                         const DatabaseHeader* assumed) {
    std::unique_ptr<MdbFile> db(new MdbFile());
    db->path_ = path;
    db->writable_ = options.writable;
    db->SetReadAhead(options.read_ahead_pages);
    try {
        const FileStatus status = env->Stat(path);
        if (status.is_directory) Raise(kNotValidPath, path);
        if (!status.exists) {
            const FileStatus folder = env->Stat(DirectoryOf(path));
            Raise(folder.is_directory ? kFileNotFound : kNotValidPath, path);
        }
        db->file_ = env->Open(path, options.writable ? OpenMode::kReadWrite : OpenMode::kRead);
        const uint64_t size = db->file_->Size();
        if (assumed != nullptr) {
            db->header_ = *assumed;
        } else {
            Bytes first(4096);
            const size_t got = db->file_->ReadAt(0, first.data(), first.size());
            first.resize(got);
            Version version;
            try {
                version = DetectVersion(first);
            } catch (const JetError&) {
                Raise(kUnrecognizedFormat, path);
            }
            if (size < PageSize(version)) Raise(kUnrecognizedFormat, path);
            db->header_ = DecodeHeader(first);
        }
        db->page_size_ = PageSize(db->header_.version);
        if (size < db->page_size_) Raise(kUnrecognizedFormat, path);
        const uint64_t pages = size / db->page_size_;
        // Row pointers hold 24-bit page numbers; nothing past that is addressable.
        if (pages > (uint64_t{1} << 24)) Raise(kUnrecognizedFormat, path);
        db->page_count_ = static_cast<uint32_t>(pages);
    } catch (const OsError& e) {
        RaiseOsError(e, path);
    }
    if (assumed == nullptr && !db->header_.password.empty() &&
        Utf8ToUtf16(options.password) != db->header_.password)
        Raise(kNotValidPassword, path);
    return db;
}

std::unique_ptr<MdbFile> MdbFile::OpenBeingWritten(Env* env, const std::string& path,
                                                   const DatabaseHeader& header,
                                                   uint32_t page_count, uint32_t read_ahead_pages) {
    std::unique_ptr<MdbFile> db(new MdbFile());
    db->path_ = path;
    db->header_ = header;
    db->page_size_ = PageSize(header.version);
    db->page_count_ = page_count;
    db->SetReadAhead(read_ahead_pages);
    try {
        db->file_ = env->Open(path, OpenMode::kRead);
    } catch (const OsError& e) {
        RaiseOsError(e, path);
    }
    return db;
}

std::unique_ptr<MdbFile> MdbFile::SecondReader(uint32_t read_ahead_pages) const {
    if (!file_) throw std::logic_error("MdbFile::SecondReader after Close");
    std::unique_ptr<MdbFile> db(new MdbFile());
    db->path_ = path_;
    db->header_ = header_;
    db->page_size_ = page_size_;
    db->page_count_ = page_count_;
    db->SetReadAhead(read_ahead_pages);
    db->file_ = file_;
    return db;
}

void MdbFile::SetReadAhead(uint32_t pages) {
    read_ahead_pages_ = pages;
    chunks_.clear();
    chunks_.resize(pages > 1 ? kReadAheadChunks : 0);
}

void MdbFile::Crypt(uint32_t n, std::span<uint8_t> page) const {
    CryptPage(header_.encryption_key, n, page);
}

Bytes MdbFile::ReadPage(uint32_t n) {
    Bytes page;
    ReadPage(n, page);
    return page;
}

void MdbFile::ReadPage(uint32_t n, Bytes& out) {
    if (n >= page_count_) Corrupt("page " + std::to_string(n) + " is past the end of the file");
    if (!file_) throw std::logic_error("MdbFile::ReadPage after Close");
    out.resize(page_size_);
    if (!chunks_.empty() && ReadAhead(n, out)) return;
    size_t got = 0;
    try {
        got = file_->ReadAt(uint64_t{n} * page_size_, out.data(), page_size_);
    } catch (const OsError& e) {
        RaiseOsError(e, path_);
    }
    if (got != page_size_) Corrupt("page " + std::to_string(n) + " is cut short");
    Crypt(n, out);
}

ByteSpan MdbFile::ChunkPage(uint32_t n) {
    ++reads_;
    Chunk* chunk = nullptr;
    for (Chunk& c : chunks_) {
        if (c.count != 0 && n >= c.first && n - c.first < c.count) {
            chunk = &c;
            break;
        }
    }
    if (chunk == nullptr) {
        chunk = &chunks_[0];
        for (Chunk& c : chunks_) {
            if (c.used < chunk->used) chunk = &c;
        }
        // On the chunks' own boundaries, so that two scans that meet in a part of the file
        // share its chunk instead of each reading it from where it came in.
        const uint32_t first = n - n % read_ahead_pages_;
        const uint32_t wanted = std::min(read_ahead_pages_, page_count_ - first);
        chunk->count = 0;
        const size_t size = size_t{wanted} * page_size_;
        if (chunk->capacity < size) {
            chunk->bytes.reset(new uint8_t[size]);
            chunk->capacity = size;
        }
        size_t got = 0;
        try {
            got = file_->ReadAt(uint64_t{first} * page_size_, chunk->bytes.get(), size);
        } catch (const OsError&) {
            return {};
        }
        chunk->first = first;
        chunk->count = static_cast<uint32_t>(got / page_size_);
        chunk->clear.assign(chunk->count, !encrypted());
        if (n - first >= chunk->count) return {};  // the file ends before page n
    }
    chunk->used = reads_;
    const uint32_t k = n - chunk->first;
    const std::span<uint8_t> page(chunk->bytes.get() + size_t{k} * page_size_, page_size_);
    if (!chunk->clear[k]) {
        Crypt(n, page);
        chunk->clear[k] = true;
    }
    return page;
}

bool MdbFile::ReadAhead(uint32_t n, Bytes& out) {
    const ByteSpan page = ChunkPage(n);
    if (page.empty()) return false;
    std::copy(page.begin(), page.end(), out.begin());
    return true;
}

ByteSpan MdbFile::ViewPage(uint32_t n, Bytes& scratch) {
    if (chunks_.empty() || n >= page_count_ || !file_) {
        ReadPage(n, scratch);
        return scratch;
    }
    const ByteSpan page = ChunkPage(n);
    if (page.empty()) {
        ReadPage(n, scratch);
        return scratch;
    }
    return page;
}

void MdbFile::WritePage(uint32_t n, ByteSpan clear_page) {
    if (!writable_) Raise(kReadOnly);
    if (!file_) throw std::logic_error("MdbFile::WritePage after Close");
    if (clear_page.size() != page_size_) throw std::invalid_argument("WritePage: wrong page size");
    if (n >= (uint32_t{1} << 24)) Raise(kDatabaseFull);
    for (Chunk& c : chunks_) {
        if (c.count != 0 && n >= c.first && n - c.first < c.count) c.count = 0;
    }
    Bytes page(clear_page.begin(), clear_page.end());
    Crypt(n, page);
    try {
        file_->WriteAt(uint64_t{n} * page_size_, page.data(), page.size());
    } catch (const OsError& e) {
        RaiseOsError(e, path_);
    }
    if (n >= page_count_) page_count_ = n + 1;
}

void MdbFile::Corrupt(const std::string& detail) const {
    RaiseWithDetail(kUnrecognizedFormat, path_, "(" + detail + ")");
}

}  // namespace jet
