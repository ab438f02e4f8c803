// What the power-loss sweeps share: a folder read into memory and written back out, and the
// judge of a client database after a cut (checker clean, every row as it was but for its flag,
// which holds its old or its new value).
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/read/checker.h"
#include "jet/read/value_text.h"
#include "jet/testing/power_loss_env.h"

namespace jet::testkit {

// Every file under `root`, by its path relative to it, with its content.
inline jet::PowerLossEnv::Files ReadTree(const std::filesystem::path& root) {
    jet::PowerLossEnv::Files files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[std::filesystem::relative(entry.path(), root).generic_string()] =
            std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

// Writes `files` under `root` (emptied first), their folders made as needed.
inline void WriteTree(const jet::PowerLossEnv::Files& files, const std::filesystem::path& root) {
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    for (const auto& [name, content] : files) {
        const std::filesystem::path path = root / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary)
            .write(content.data(), static_cast<std::streamsize>(content.size()));
    }
}

// Judges the client databases a cut leaves: each must pass the checker and hold the rows it
// held before, each row with its flag (column `flag` of table `table`) at one of the values
// it may hold. Verdicts are kept by content, as most cuts leave a client database as the last
// one left it.
class FlagJudge {
  public:
    FlagJudge(std::string table, std::string flag)
        : table_(std::move(table)), flag_(std::move(flag)) {}

    struct Reading {
        bool clean = false;
        std::string findings;
        std::multiset<std::string> rows;  // every row, the flag left out
        std::set<std::string> flags;      // the flags the rows hold
    };
    // Reads the database at `path` (through the real file system).
    Reading Read(const std::string& path) const {
        Reading r;
        jet::CheckOptions options;
        options.on_row = [&](const jet::TableDef& t, const jet::Row& row,
                             const std::vector<jet::StoredTexts::Text>*) {
            if (t.name != table_) return;
            std::string rest;
            for (size_t i = 0; i < t.columns.size() && i < row.size(); ++i) {
                const std::string text = jet::FormatValue(t.columns[i], row[i]);
                if (t.columns[i].name == flag_) {
                    r.flags.insert(text);
                } else {
                    rest += text + "|";
                }
            }
            r.rows.insert(rest);
        };
        try {
            const jet::CheckReport report = jet::CheckFile(jet::Env::Default(), path, options);
            r.clean = report.clean();
            if (!r.clean) r.findings = jet::FormatReport(report);
        } catch (const std::exception& e) {
            r.findings = e.what();
        }
        return r;
    }

    // The database before any change, and the flags its rows may hold after a cut.
    void Expect(const std::string& before_path, std::set<std::string> allowed) {
        before_ = Read(before_path);
        allowed_ = std::move(allowed);
    }
    const Reading& before() const { return before_; }

    // Flags a torn write may also leave (see the flag update's sweep); empty by default.
    void TolerateTorn(std::set<std::string> flags) { torn_ = std::move(flags); }

    // "" when `content` (the bytes of a client database after a cut, `scratch` a path to
    // write them to) is sound; otherwise what is wrong. `torn`: the cut tore a write, so the
    // flags TolerateTorn names pass too.
    std::string Judge(const std::string& content, const std::string& scratch, bool torn = false) {
        const std::string key = content + (torn ? "t" : "w");
        auto it = verdicts_.find(key);
        if (it != verdicts_.end()) return it->second;
        {
            std::ofstream(scratch, std::ios::binary | std::ios::trunc)
                .write(content.data(), static_cast<std::streamsize>(content.size()));
        }
        const Reading r = Read(scratch);
        std::string verdict;
        if (!r.clean) {
            verdict = "the checker finds damage: " + r.findings;
        } else if (r.rows != before_.rows) {
            verdict = "the rows changed beyond their flags";
        } else {
            for (const std::string& f : r.flags)
                if (!allowed_.count(f) && !(torn && torn_.count(f)))
                    verdict = "a row holds the flag " + f;
        }
        ++judged_;
        return verdicts_[key] = verdict;
    }
    int distinct_judged() const { return judged_; }

  private:
    std::string table_, flag_;
    Reading before_;
    std::set<std::string> allowed_, torn_;
    std::map<std::string, std::string> verdicts_;
    int judged_ = 0;
};

}  // namespace jet::testkit
