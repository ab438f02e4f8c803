// A one-dimensional array of strings with bounds of its own, as the runtime keeps one: a lower
// and an upper bound (16-bit signed indices), and a library it is handed to by reference may
// give it other bounds. Used for the user buffer of the lock-file user library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/error.h"

namespace dao {

class StringArray {
  public:
    // VB's "subscript out of range" and "overflow" errors.
    static constexpr int kSubscriptOutOfRange = 9;
    static constexpr int kOverflow = 6;

    // An array with indices lower..upper, every entry empty. REQUIRES: nothing; bounds that
    // leave the 16-bit range, or upper < lower - 1, raise an error.
    StringArray(int lower, int upper) { ReDim(lower, upper); }

    int LBound() const { return lower_; }
    int UBound() const { return lower_ + static_cast<int>(entries_.size()) - 1; }
    int Count() const { return static_cast<int>(entries_.size()); }

    // The entry at `index`; error 9 outside the bounds.
    std::string& operator()(int index) { return entries_[Offset(index)]; }
    const std::string& operator()(int index) const { return entries_[Offset(index)]; }

    // Gives the array new bounds, keeping the entries whose index stays inside them (ReDim
    // Preserve); new entries are empty.
    void ReDim(int lower, int upper) {
        if (lower < INT16_MIN || upper > INT16_MAX || upper < lower - 1) Fail(kOverflow);
        std::vector<std::string> entries(static_cast<size_t>(upper - lower + 1));
        for (int i = lower; i <= upper; ++i) {
            if (i >= lower_ && i <= UBound())
                entries[static_cast<size_t>(i - lower)] =
                    std::move(entries_[static_cast<size_t>(i - lower_)]);
        }
        entries_ = std::move(entries);
        lower_ = lower;
    }

  private:
    size_t Offset(int index) const {
        if (index < lower_ || index > UBound()) Fail(kSubscriptOutOfRange);
        return static_cast<size_t>(index - lower_);
    }
    [[noreturn]] static void Fail(int number) {
        throw jet::JetError(number,
                            number == kOverflow ? "Estouro" : "Subscrito fora do intervalo");
    }

    int lower_ = 0;
    std::vector<std::string> entries_;
};

}  // namespace dao
