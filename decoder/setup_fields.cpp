#include "setup_fields.h"

#include <string_view>

#include "lines.h"

namespace vornlog {

namespace {

constexpr BitText kIo1BitTable[] = {
    {0, "input", "output"},
    {1, "output default value = 1", "output default value = 0"},
    {2, "output follow PWM", "output do not follow PWM"},
};

} // namespace

const std::span<const BitText> kIo1Bits = kIo1BitTable;

void putMoffLine(Out& out, std::uint8_t moff)
{
    put<"     MOFF=0x%02X\t-> ">(out, moff);
    if (moff == 0)
        put<"Auto motors on/off disabled\n">(out);
    else if (moff <= 127)
        put<"Auto motors on/off set to %d sec\n">(out, moff);
    else
        putErrorText(out, kInvalidValue);
}

} // namespace vornlog
