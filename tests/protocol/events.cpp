#include "protocol/events.h"

namespace vornlog {

char* EventSink::room(std::size_t n)
{
    if (n > capacity_ || !text_) {
        capacity_ = std::max<std::size_t>(n, 1024);
        text_ = std::make_unique<char[]>(capacity_);
    }
    return text_.get();
}

std::string_view EventSink::tableText(const TableText& text, int number)
{
    const std::string_view meaning = text.view();
    if (text.number == TableText::kNoNumber) return meaning;
    return render<"%s%d%s">(meaning.substr(0, text.number), number, meaning.substr(text.number + 2));
}

} // namespace vornlog
