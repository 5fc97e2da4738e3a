// The console's progress line, "\rAnalyzing line: %d", once for every
// capture line read. It goes through a buffer and reaches the console every
// few hundred lines, so that counting costs next to nothing.
//
// A console that is not a terminal (a file, a pipe) shows no line being
// overwritten, only a growing heap of them: it gets the line every
// kSparseEvery lines and, at the end (finish), the last line's number, so
// that a long run does not write tens of megabytes of progress.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/out.h"

namespace vornlog {

class Progress {
public:
    static constexpr std::int64_t kSparseEvery = 1 << 14;

    explicit Progress(Out& console, bool everyLine = true) : console_(console), everyLine_(everyLine) {}

    void count()
    {
        ++line_;
        if (!everyLine_) {
            if (--untilShown_ == 0) show();
            return;
        }
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
        shown_ = line_;
        if (line_ % 512 == 0) console_.flush();
    }

    // The last line's number, when it is not shown yet.
    void finish()
    {
        if (shown_ != line_) show();
    }

    // The number of lines (or packets) counted.
    std::int64_t lines() const { return line_; }

private:
    static constexpr int kDigits = 20;

    void show()
    {
        put<"\rAnalyzing line: %d">(console_, line_);
        shown_ = line_;
        untilShown_ = kSparseEvery;
    }

    Out& console_;
    bool everyLine_;
    std::int64_t line_ = 0;
    std::int64_t shown_ = 0;
    std::int64_t untilShown_ = kSparseEvery;
    char digits_[kDigits] = {'0', '0', '0', '0', '0', '0', '0', '0', '0', '0',
                             '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'};
    int first_ = kDigits; // the number is digits_[first_, kDigits)
};

} // namespace vornlog
