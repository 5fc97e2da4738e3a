#include "texts.h"

#include <cstring>

namespace vornlog {

void putBits(Out& out, std::span<const BitText> table, unsigned value)
{
    // Each line is copied whole and the end moved on by its size (0 for no
    // line): no branch on the bit, no length to find.
    char* p = out.room(table.size() * BitLine::kCapacity);
    for (const BitText& entry : table) {
        const BitLine& line = (value >> entry.bit) & 1 ? entry.whenSet : entry.whenClear;
        std::memcpy(p, line.text, BitLine::kCapacity);
        p += line.size;
    }
    out.advance(p);
}

} // namespace vornlog
