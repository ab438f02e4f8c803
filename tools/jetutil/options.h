// Common option parsing for jetutil verbs: --password PW and positional arguments; each verb
// adds its own flags through Has()/Value().
#pragma once

#include <string>
#include <vector>

#include "jet/format/mdb_file.h"

namespace jetutil {

class Options {
  public:
    // `flags` are the verb's boolean options (e.g. "--json"); `valued` those taking a value.
    explicit Options(const std::vector<std::string>& args, std::vector<std::string> flags = {},
                     std::vector<std::string> valued = {});

    const std::vector<std::string>& positional() const { return positional_; }
    bool Has(const std::string& flag) const;
    std::string Value(const std::string& name, const std::string& fallback = {}) const;
    jet::OpenOptions open_options() const;
    // A message when the arguments hold an unknown option, else empty.
    const std::string& error() const { return error_; }

  private:
    std::vector<std::string> positional_;
    std::vector<std::string> flags_set_;
    std::vector<std::pair<std::string, std::string>> values_;
    std::string error_;
};

}  // namespace jetutil
