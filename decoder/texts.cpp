#include "texts.h"

#include <string_view>

namespace vornlog {

const char* lookup(std::span<const CodeText> table, int code)
{
    for (const CodeText& entry : table)
        if (entry.code == code) return entry.text;
    return nullptr;
}

void putBits(Out& out, std::span<const BitText> table, unsigned value)
{
    for (const BitText& entry : table) {
        const int set = (value >> entry.bit) & 1;
        const TableText& meaning = set ? entry.whenSet : entry.whenClear;
        if (meaning) put<"       .%d=%d\t-> %s\n">(out, entry.bit, set, meaning.view());
    }
}

} // namespace vornlog
