// An Env that passes everything to another Env and keeps a journal of every change a run
// makes under one folder (writes, truncations, syncs of files, creations, renames, removals,
// syncs of folders), so that a test can afterwards lay out, in a folder of its own, the file
// system as a power cut after any operation of the run could have left it:
//
//   - what a sync made durable is kept: a file's data once the file was synced, an entry of
//     a folder (a creation, a rename, a removal) once that folder was synced;
//   - what was not synced may be lost, in whole or in part, in any of the ways a disk and its
//     cache lose it (see Loss): dropped, kept, kept only up to some point, kept only after
//     some point (later writes reached the platter, earlier ones did not), torn within a page;
//     entries not followed by a sync of their folder applied or not.
//
// A file sync makes the file's data durable, not its name: a name lasts only once its folder
// has been synced, as POSIX promises and as the careful programs assume. A rename between two
// folders lasts once either of them is synced. Entries are applied in the order they were
// made (the ordered metadata of journaling file systems); which of them are applied is the
// durable ones plus a prefix of the others.
//
// One run is recorded once; the files after every cut and every way of losing are computed
// from the journal, without running again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/env.h"

namespace jet {

class PowerLossEnv final : public EnvWrapper {
  public:
    explicit PowerLossEnv(Env* target) : EnvWrapper(target) {}

    // Files by their path relative to a folder, with their content.
    using Files = std::map<std::string, std::string>;

    // Starts the journal of what happens under `root`: `durable` is what the disk holds there
    // now (every file, by its path relative to `root`), all of it taken for synced.
    // Operations outside `root`, and before Begin, pass through unrecorded.
    void Begin(const std::string& root, Files durable);

    // How unsynced changes fare in the cut.
    enum class Loss {
        kDropUnsynced,       // every unsynced write and entry lost
        kKeepAll,            // everything reached the disk (what a kill leaves)
        kEntriesNotData,     // unsynced entries applied, unsynced data lost
        kDataNotEntries,     // unsynced data kept, unsynced entries lost
        kEarlierHalf,        // the first half of the unsynced writes and entries kept
        kLaterHalf,          // the later half of each file's unsynced writes kept, not earlier
        kTornLastWrite,      // everything kept but each file's last write, torn mid-page:
                             // only its first half reached the disk
        kTornLastWriteTail,  // the same, only its second half reached the disk
    };
    static constexpr Loss kEveryLoss[] = {
        Loss::kDropUnsynced, Loss::kKeepAll,   Loss::kEntriesNotData, Loss::kDataNotEntries,
        Loss::kEarlierHalf,  Loss::kLaterHalf, Loss::kTornLastWrite,  Loss::kTornLastWriteTail};
    static const char* LossName(Loss loss);

    // The number of operations journalled so far; a cut is a number 0..events().
    size_t events() const { return journal_.size(); }
    // The cuts worth trying: just before and just after every sync (of a file or a folder),
    // half-way between two syncs, the start and the end. Sorted, without repeats.
    std::vector<size_t> CutPoints() const;
    // Every cut 0..events().
    std::vector<size_t> EveryCut() const;
    // A short description of operation `n` (0-based), for messages.
    std::string Describe(size_t n) const;

    // The files under root as a power cut after the first `cut` operations leaves them, the
    // unsynced changes faring as `loss` says.
    // `entries_kept`, when given, replaces the choice of `loss` for the unsynced entries: that
    // many of the first of them are applied (the cut falling between two of them).
    Files After(size_t cut, Loss loss, std::optional<size_t> entries_kept = {}) const;
    // How many creations, renames and removals no folder sync has made durable at `cut`.
    size_t UnsyncedEntries(size_t cut) const;

    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
    void Rename(const std::string& from, const std::string& to) override;
    void Remove(const std::string& path) override;
    void SyncDirectory(const std::string& path) override;

    enum class Kind { kCreate, kRename, kRemove, kSyncFolder, kWrite, kTruncate, kSyncFile };
    struct Event {
        Kind kind;
        std::string path;     // relative to root: the entry (created, removed, renamed from)
        std::string to;       // kRename: the destination; kSyncFolder: the folder
        int inode = -1;       // the file written, truncated, synced or created
        uint64_t offset = 0;  // kWrite: where; kTruncate: the new size
        std::string bytes;    // kWrite
    };
    // Used by the open files: appends to the journal.
    void Record(Event event) { journal_.push_back(std::move(event)); }

  private:
    struct Replay;
    Replay Play(size_t cut) const;
    // The path relative to root, or "" when `path` lies outside it (or no journal runs).
    std::string Relative(const std::string& path) const;

    std::string root_;
    bool recording_ = false;
    // The disk as Begin found it: names and the content of inodes 0..n-1.
    std::map<std::string, int> initial_names_;
    std::vector<std::string> initial_content_;
    // The names as they stand now (for Open and Rename to find a file's inode).
    std::map<std::string, int> names_;
    int next_inode_ = 0;
    std::vector<Event> journal_;
};

}  // namespace jet
