#include "instruction_filter.h"

#include "base/out.h"
#include "protocol/instructions.h"

namespace vornlog {

namespace {

// An instruction of the decoder table by its code.
bool known(unsigned code) { return code < 256 && findInstruction(static_cast<std::uint8_t>(code)) != nullptr; }

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

std::optional<InstructionFilter> InstructionFilter::parse(std::string_view list)
{
    InstructionFilter filter;
    bool any = false;
    for (std::size_t i = 0; i < list.size();) {
        const char c = list[i];
        if (c == ',' || c == ' ') {
            ++i;
            continue;
        }
        unsigned code = 0;
        if (c == '0' && i + 1 < list.size() && (list[i + 1] == 'x' || list[i + 1] == 'X')) {
            // 0x44: one or two hex digits.
            std::size_t end = i + 2;
            while (end < list.size() && end < i + 4 && hexDigit(list[end]) >= 0) code = code * 16 + hexDigit(list[end++]);
            if (end == i + 2 || (end < list.size() && list[end] != ',' && list[end] != ' ')) return std::nullopt;
            i = end;
        } else {
            // A letter: the instruction whose code is that character.
            code = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            ++i;
        }
        if (!known(code)) return std::nullopt;
        filter.keep_[code] = true;
        any = true;
    }
    if (!any) return std::nullopt;
    return filter;
}

std::string InstructionFilter::describe() const
{
    std::string text;
    for (unsigned code = 0; code < 256; ++code) {
        if (!keep_[code]) continue;
        if (!text.empty()) text += ", ";
        const Instruction& instruction = *findInstruction(static_cast<std::uint8_t>(code));
        text += "0x";
        text += fmt::kHexDigits[code >> 4];
        text += fmt::kHexDigits[code & 15];
        text += ' ';
        text += instruction.letter();
        text += ' ';
        text += instruction.name;
    }
    return text;
}

} // namespace vornlog
