// The console's progress line, "\rAnalyzing line: %d", once for every
// capture line read. It goes through a buffer and reaches the console every
// few hundred lines, so that counting costs next to nothing.
#pragma once

#include <cstdint>

#include "out.h"

namespace vornlog {

class Progress {
public:
    explicit Progress(Out& console) : console_(console) {}

    void count()
    {
        ++line_;
        put<"\rAnalyzing line: %d">(console_, line_);
        if (line_ % 512 == 0) console_.flush();
    }
    std::int64_t lines() const { return line_; }

private:
    Out& console_;
    std::int64_t line_ = 0;
};

} // namespace vornlog
