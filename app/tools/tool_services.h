// Services for the tools that drive a run with nobody at the window (the screenshot tools of
// app/tools/ and app/win32/tools/, tests/app/driver/run_driver.cpp): a clock that stands
// still, a file dialog that always hands back one path, a program end that does nothing; and
// the screenshots' demo databases.
#pragma once

#include <string>
#include <utility>

#include "jet/base/env.h"
#include "jet/testing/fixtures.h"
#include "jet/testing/sample.h"
#include "platform/clock.h"
#include "platform/common_dialog.h"
#include "platform/program.h"

namespace tools {

// 5 Dec 2026, 14:03:07, at every reading: the run's names and lines do not change.
class FixedClock final : public platform::Clock {
  public:
    platform::DateTime Now() override { return {2026, 12, 5, 14, 3, 7}; }
};

class ChooseFile final : public platform::CommonDialog {
  public:
    explicit ChooseFile(std::string path) : path_(std::move(path)) {}
    void SetMaxFileSize(int) override {}
    void SetFileName(const std::string&) override {}
    void ShowOpen() override {}
    std::string FileName() const override { return path_; }

  private:
    std::string path_;
};

class NoEnd final : public platform::ProgramEnd {
  public:
    void EndNow() override {}
};

// Writes the demo of the screenshots into the existing folder `dados`: a database of 300
// orders bloated with deleted rows and free pages, and the two client databases beside it.
// Returns the database's path, joined with `separator`.
inline std::string WriteDemo(const std::string& dados, char separator) {
    const std::string database = dados + separator + "vendas.mdb";
    jet::SampleOptions sample;
    sample.rows = 300;
    sample.bloat = true;
    jet::CreateSample(jet::Env::Default(), database, sample);
    jet::CreateClientFixtures(jet::Env::Default(), dados);
    return database;
}

}  // namespace tools
