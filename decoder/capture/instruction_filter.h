// -i LIST: the instructions whose messages a report keeps. LIST names them
// by their letters ("DS", "D,S") or their codes ("0x44"), in any mix,
// separated by commas or spaces; only the instructions of the decoder
// table (kInstructions) are known. Both directions of an instruction are
// kept.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "source.h"

namespace vornlog {

class InstructionFilter {
public:
    // Empty when LIST names nothing or something that is not an
    // instruction (an unknown letter, a code that is not one).
    static std::optional<InstructionFilter> parse(std::string_view list);

    bool keeps(std::uint8_t code) const { return keep_[code]; }
    // The instructions kept, as "0x44 D Data, 0x53 S Stop".
    std::string describe() const;

private:
    std::array<bool, 256> keep_{};
};

// -i, the one way every mode that lists messages gets it: the records of
// `in` with the messages of the instructions left out turned into records
// without a message, marked `leftOut`: they are counted, not listed. Their
// field stays, for the findings, which are made from every message.
class FilteredSource final : public ForwardingSource {
public:
    FilteredSource(MessageSource& in, const InstructionFilter& filter) : ForwardingSource(in), filter_(filter) {}

    bool next(CaptureRecord& record) override
    {
        if (!in_.next(record)) return false;
        record.leftOut = record.isMessage && !filter_.keeps(Bytes(record.field).at(0));
        if (record.leftOut) record.isMessage = false;
        return true;
    }
    std::string keptInstructions() const override { return filter_.describe(); }

private:
    const InstructionFilter& filter_;
};

} // namespace vornlog
