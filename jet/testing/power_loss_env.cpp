#include "jet/testing/power_loss_env.h"

#include <algorithm>
#include <cstring>

namespace jet {
namespace {

// A path with repeated slashes and "." parts taken out, without a trailing slash.
std::string Lexical(const std::string& path) {
    std::string out;
    size_t i = 0;
    while (i <= path.size()) {
        size_t slash = path.find('/', i);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(i, slash - i);
        if (part.empty() || part == ".") {
            if (i == 0 && slash < path.size()) out = "/";  // the root of an absolute path
        } else {
            if (!out.empty() && out.back() != '/') out += '/';
            out += part;
        }
        i = slash + 1;
    }
    return out;
}

// The folder of a path relative to root ("" for root itself).
std::string FolderOf(const std::string& relative) {
    size_t slash = relative.find_last_of('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

class JournalledFile final : public FileWrapper {
  public:
    JournalledFile(PowerLossEnv* env, std::unique_ptr<File> target, std::string relative, int inode)
        : FileWrapper(std::move(target)),
          env_(env),
          relative_(std::move(relative)),
          inode_(inode) {}

    void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
        FileWrapper::WriteAt(offset, buffer, n);
        PowerLossEnv::Event e{PowerLossEnv::Kind::kWrite, relative_, {}, inode_, offset, {}};
        e.bytes.assign(static_cast<const char*>(buffer), n);
        env_->Record(std::move(e));
    }
    void Truncate(uint64_t size) override {
        FileWrapper::Truncate(size);
        env_->Record({PowerLossEnv::Kind::kTruncate, relative_, {}, inode_, size, {}});
    }
    void Sync() override {
        FileWrapper::Sync();
        env_->Record({PowerLossEnv::Kind::kSyncFile, relative_, {}, inode_, 0, {}});
    }

  private:
    PowerLossEnv* env_;
    std::string relative_;
    int inode_;
};

// Applies a write (its bytes from..to only) or a truncation to a file's content.
void Apply(const PowerLossEnv::Event& e, std::string& content, size_t from = 0,
           size_t to = SIZE_MAX) {
    if (e.kind == PowerLossEnv::Kind::kTruncate) {
        content.resize(static_cast<size_t>(e.offset));
        return;
    }
    to = std::min(to, e.bytes.size());
    if (from >= to) return;
    const size_t at = static_cast<size_t>(e.offset) + from;
    if (content.size() < at + (to - from)) content.resize(at + (to - from), '\0');
    std::memcpy(content.data() + at, e.bytes.data() + from, to - from);
}

}  // namespace

const char* PowerLossEnv::LossName(Loss loss) {
    switch (loss) {
        case Loss::kDropUnsynced:
            return "unsynced changes dropped";
        case Loss::kKeepAll:
            return "everything kept";
        case Loss::kEntriesNotData:
            return "unsynced entries kept, unsynced data dropped";
        case Loss::kDataNotEntries:
            return "unsynced data kept, unsynced entries dropped";
        case Loss::kEarlierHalf:
            return "the earlier half of unsynced changes kept";
        case Loss::kLaterHalf:
            return "the later half of each file's unsynced writes kept";
        case Loss::kTornLastWrite:
            return "each file's last unsynced write torn, its start kept";
        case Loss::kTornLastWriteTail:
            return "each file's last unsynced write torn, its end kept";
    }
    return "?";
}

void PowerLossEnv::Begin(const std::string& root, Files durable) {
    root_ = Lexical(root);
    recording_ = true;
    journal_.clear();
    initial_names_.clear();
    initial_content_.clear();
    for (auto& [name, content] : durable) {
        initial_names_[Lexical(name)] = static_cast<int>(initial_content_.size());
        initial_content_.push_back(std::move(content));
    }
    names_ = initial_names_;
    next_inode_ = static_cast<int>(initial_content_.size());
}

std::string PowerLossEnv::Relative(const std::string& path) const {
    if (!recording_) return {};
    std::string p = Lexical(path);
    if (p.size() <= root_.size() + 1 || p.compare(0, root_.size(), root_) != 0 ||
        p[root_.size()] != '/') {
        return {};
    }
    return p.substr(root_.size() + 1);
}

std::unique_ptr<File> PowerLossEnv::Open(const std::string& path, OpenMode mode) {
    std::unique_ptr<File> file = EnvWrapper::Open(path, mode);
    const std::string relative = Relative(path);
    if (relative.empty()) return file;
    int inode;
    auto it = names_.find(relative);
    if (it != names_.end()) {
        inode = it->second;
        if (mode == OpenMode::kCreateTruncate)
            Record({Kind::kTruncate, relative, {}, inode, 0, {}});
    } else if (mode == OpenMode::kRead || mode == OpenMode::kReadWrite) {
        return file;  // not made through this Env: not followed
    } else {
        inode = next_inode_++;
        names_[relative] = inode;
        Record({Kind::kCreate, relative, {}, inode, 0, {}});
    }
    return std::make_unique<JournalledFile>(this, std::move(file), relative, inode);
}

void PowerLossEnv::Rename(const std::string& from, const std::string& to) {
    EnvWrapper::Rename(from, to);
    const std::string a = Relative(from), b = Relative(to);
    auto it = a.empty() ? names_.end() : names_.find(a);
    if (it == names_.end()) {
        names_.erase(b);  // an unfollowed file over a followed one: the latter is gone
        if (!b.empty()) Record({Kind::kRemove, b, {}, -1, 0, {}});
        return;
    }
    const int inode = it->second;
    names_.erase(it);
    if (b.empty()) {
        Record({Kind::kRemove, a, {}, inode, 0, {}});
        return;
    }
    names_[b] = inode;
    Record({Kind::kRename, a, b, inode, 0, {}});
}

void PowerLossEnv::Remove(const std::string& path) {
    EnvWrapper::Remove(path);
    const std::string relative = Relative(path);
    if (relative.empty()) return;
    names_.erase(relative);
    Record({Kind::kRemove, relative, {}, -1, 0, {}});
}

void PowerLossEnv::SyncDirectory(const std::string& path) {
    EnvWrapper::SyncDirectory(path);
    if (!recording_) return;
    const std::string p = Lexical(path);
    std::string folder;
    if (p != root_) {
        folder = Relative(p);
        if (folder.empty()) return;
    }
    Record({Kind::kSyncFolder, {}, folder, -1, 0, {}});
}

std::vector<size_t> PowerLossEnv::CutPoints() const {
    std::vector<size_t> cuts{0, journal_.size()};
    size_t previous = 0;
    for (size_t i = 0; i < journal_.size(); ++i) {
        if (journal_[i].kind != Kind::kSyncFile && journal_[i].kind != Kind::kSyncFolder) continue;
        cuts.push_back(i);
        cuts.push_back(i + 1);
        cuts.push_back((previous + i) / 2);
        previous = i + 1;
    }
    cuts.push_back((previous + journal_.size()) / 2);
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    return cuts;
}

std::vector<size_t> PowerLossEnv::EveryCut() const {
    std::vector<size_t> cuts(journal_.size() + 1);
    for (size_t i = 0; i < cuts.size(); ++i) cuts[i] = i;
    return cuts;
}

std::string PowerLossEnv::Describe(size_t n) const {
    if (n >= journal_.size()) return "the end of the run";
    const Event& e = journal_[n];
    switch (e.kind) {
        case Kind::kCreate:
            return "create " + e.path;
        case Kind::kRename:
            return "rename " + e.path + " to " + e.to;
        case Kind::kRemove:
            return "remove " + e.path;
        case Kind::kSyncFolder:
            return "sync folder '" + e.to + "'";
        case Kind::kWrite:
            return "write " + e.path + " at " + std::to_string(e.offset) + " (" +
                   std::to_string(e.bytes.size()) + " bytes)";
        case Kind::kTruncate:
            return "truncate " + e.path + " to " + std::to_string(e.offset);
        case Kind::kSyncFile:
            return "sync " + e.path;
    }
    return "?";
}

// The disk after a cut, before the unsynced changes are chosen.
struct PowerLossEnv::Replay {
    struct Inode {
        std::string durable;
        std::vector<size_t> pending;  // unsynced writes and truncations, in order
    };
    std::vector<Inode> inodes;
    std::vector<size_t> entries;  // creations, renames, removals, in order
    std::vector<char> lasting;    // by operation: an entry a folder sync made durable
    size_t unsynced = 0;          // entries not lasting
};

size_t PowerLossEnv::UnsyncedEntries(size_t cut) const {
    return Play(cut).unsynced;
}

PowerLossEnv::Replay PowerLossEnv::Play(size_t cut) const {
    cut = std::min(cut, journal_.size());
    Replay r;
    auto& inodes = r.inodes;
    auto& entries = r.entries;
    auto& lasting = r.lasting;
    inodes.resize(static_cast<size_t>(next_inode_));
    for (size_t i = 0; i < initial_content_.size(); ++i) inodes[i].durable = initial_content_[i];
    lasting.assign(cut, 0);

    for (size_t i = 0; i < cut; ++i) {
        const Event& e = journal_[i];
        switch (e.kind) {
            case Kind::kWrite:
            case Kind::kTruncate:
                inodes[static_cast<size_t>(e.inode)].pending.push_back(i);
                break;
            case Kind::kSyncFile: {
                Replay::Inode& node = inodes[static_cast<size_t>(e.inode)];
                for (size_t j : node.pending) Apply(journal_[j], node.durable);
                node.pending.clear();
                break;
            }
            case Kind::kCreate:
            case Kind::kRename:
            case Kind::kRemove:
                entries.push_back(i);
                break;
            case Kind::kSyncFolder:
                for (size_t j : entries) {
                    const Event& entry = journal_[j];
                    if (FolderOf(entry.path) == e.to ||
                        (entry.kind == Kind::kRename && FolderOf(entry.to) == e.to)) {
                        lasting[j] = 1;
                    }
                }
                break;
        }
    }
    for (size_t j : entries) r.unsynced += lasting[j] ? 0 : 1;
    return r;
}

PowerLossEnv::Files PowerLossEnv::After(size_t cut, Loss loss,
                                        std::optional<size_t> entries_kept) const {
    const Replay r = Play(cut);
    const size_t unsynced = r.unsynced;

    // Which unsynced entries are applied.
    size_t keep_entries = 0;
    switch (loss) {
        case Loss::kDropUnsynced:
        case Loss::kDataNotEntries:
            keep_entries = 0;
            break;
        case Loss::kEarlierHalf:
            keep_entries = (unsynced + 1) / 2;
            break;
        default:
            keep_entries = unsynced;
            break;
    }
    if (entries_kept) keep_entries = std::min(*entries_kept, unsynced);
    std::map<std::string, int> names = initial_names_;
    for (size_t j : r.entries) {
        if (!r.lasting[j]) {
            if (keep_entries == 0) continue;
            --keep_entries;
        }
        const Event& e = journal_[j];
        if (e.kind == Kind::kCreate) {
            names[e.path] = e.inode;
        } else if (e.kind == Kind::kRemove) {
            names.erase(e.path);
        } else {
            auto it = names.find(e.path);
            if (it == names.end()) continue;  // its creation did not last
            const int inode = it->second;
            names.erase(it);
            names[e.to] = inode;
        }
    }

    // Each remaining file's content: durable data and what `loss` keeps of the rest.
    Files files;
    for (const auto& [name, inode] : names) {
        const Replay::Inode& node = r.inodes[static_cast<size_t>(inode)];
        std::string content = node.durable;
        const size_t n = node.pending.size();
        size_t first = 0, last = n;  // the range of pending changes applied
        switch (loss) {
            case Loss::kDropUnsynced:
            case Loss::kEntriesNotData:
                last = 0;
                break;
            case Loss::kEarlierHalf:
                last = n / 2;
                break;
            case Loss::kLaterHalf:
                first = n / 2;
                break;
            default:
                break;
        }
        size_t torn = SIZE_MAX;  // the pending change written only in part
        if (loss == Loss::kTornLastWrite || loss == Loss::kTornLastWriteTail) {
            for (size_t k = n; k-- > 0;) {
                if (journal_[node.pending[k]].kind == Kind::kWrite) {
                    torn = k;
                    break;
                }
            }
        }
        for (size_t k = first; k < last; ++k) {
            const Event& e = journal_[node.pending[k]];
            if (k != torn) {
                Apply(e, content);
                continue;
            }
            // A torn write keeps its first half or its second, split at a sector boundary
            // (512 bytes).
            const size_t split = e.bytes.size() / 2 / 512 * 512;
            if (loss == Loss::kTornLastWrite) {
                Apply(e, content, 0, split);
            } else {
                Apply(e, content, split == 0 ? e.bytes.size() : split);
            }
        }
        files[name] = std::move(content);
    }
    return files;
}

}  // namespace jet
