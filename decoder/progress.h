// The console's progress line, "\rAnalyzing line: %d", once for every
// capture line read. It goes through a buffer and reaches the console every
// few hundred lines, so that counting costs next to nothing.
#pragma once

#include <cstdint>
#include <string_view>

#include "out.h"

namespace vornlog {

class Progress {
public:
    explicit Progress(Out& console) : console_(console) {}

    void count()
    {
        ++line_;
        // The line number is kept as decimal text and counted up in place:
        // cheaper than converting it anew for every line.
        int i = kDigits - 1;
        while (digits_[i] == '9') digits_[i--] = '0';
        if (i < first_) {
            first_ = i;
            digits_[i] = '1';
        } else {
            ++digits_[i];
        }
        put<"\rAnalyzing line: %s">(console_, std::string_view(digits_ + first_, kDigits - first_));
        if (line_ % 512 == 0) console_.flush();
    }

private:
    static constexpr int kDigits = 20;

    Out& console_;
    std::int64_t line_ = 0;
    char digits_[kDigits] = {'0', '0', '0', '0', '0', '0', '0', '0', '0', '0',
                             '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'};
    int first_ = kDigits; // the number is digits_[first_, kDigits)
};

} // namespace vornlog
