#include "tools/jetutil/options.h"

#include <algorithm>

namespace jetutil {

Options::Options(const std::vector<std::string>& args, std::vector<std::string> flags,
                 std::vector<std::string> valued) {
    valued.push_back("--password");
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 1 && a[0] == '-') {
            if (std::find(flags.begin(), flags.end(), a) != flags.end()) {
                flags_set_.push_back(a);
            } else if (std::find(valued.begin(), valued.end(), a) != valued.end() &&
                       i + 1 < args.size()) {
                values_.emplace_back(a, args[++i]);
            } else if (error_.empty()) {
                error_ = "unknown or incomplete option '" + a + "'";
            }
            continue;
        }
        positional_.push_back(a);
    }
}

bool Options::Has(const std::string& flag) const {
    return std::find(flags_set_.begin(), flags_set_.end(), flag) != flags_set_.end();
}

std::string Options::Value(const std::string& name, const std::string& fallback) const {
    for (const auto& [k, v] : values_)
        if (k == name) return v;
    return fallback;
}

jet::OpenOptions Options::open_options() const {
    jet::OpenOptions o;
    o.password = Value("--password");
    return o;
}

}  // namespace jetutil
