#include "search_index.h"

#include <algorithm>

#include "base/out.h"
#include "output/json_sink.h"
#include "protocol/decode.h"

namespace vornlog {

namespace {

// FNV-1a: the parts are short texts.
std::uint32_t hashOf(std::string_view text)
{
    std::uint32_t h = 2166136261u;
    for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h;
}

void lowerAscii(char* p, std::size_t n)
{
    for (std::size_t k = 0; k < n; ++k)
        if (p[k] >= 'A' && p[k] <= 'Z') p[k] = static_cast<char>(p[k] - 'A' + 'a');
}

} // namespace

void SearchIndex::reserve(std::size_t messages)
{
    // A Data message has 13 parts: its instruction, eleven fields, its errors.
    parts_.reserve(messages * 13 + 16);
    firstPart_.reserve(messages + 1);
}

std::uint32_t SearchIndex::intern(std::string_view part)
{
    if (table_.size() < 2 * (partAt_.size() + 1)) {
        // Twice as many slots as parts at least: placed again in a larger table.
        std::vector<std::uint32_t> larger(std::max<std::size_t>(1024, table_.size() * 2), 0);
        const std::size_t mask = larger.size() - 1;
        for (std::uint32_t id = 0; id < partAt_.size(); ++id) {
            const std::uint32_t end = id + 1 < partAt_.size() ? partAt_[id + 1] - 1 : static_cast<std::uint32_t>(text_.size() - 1);
            std::size_t slot = hashOf(std::string_view(text_).substr(partAt_[id], end - partAt_[id])) & mask;
            while (larger[slot]) slot = (slot + 1) & mask;
            larger[slot] = id + 1;
        }
        table_ = std::move(larger);
    }
    const std::size_t mask = table_.size() - 1;
    for (std::size_t slot = hashOf(part) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t held = table_[slot];
        if (!held) {
            const auto id = static_cast<std::uint32_t>(partAt_.size());
            partAt_.push_back(static_cast<std::uint32_t>(text_.size()));
            text_.append(part);
            text_ += '\n';
            table_[slot] = id + 1;
            return id;
        }
        const std::uint32_t at = partAt_[held - 1];
        const std::uint32_t end = held < partAt_.size() ? partAt_[held] - 1 : static_cast<std::uint32_t>(text_.size() - 1);
        if (end - at == part.size() && std::string_view(text_).substr(at, part.size()) == part) return held - 1;
    }
}

void SearchIndex::add(Direction direction, std::string_view field)
{
    // The decoded part of the JSON line (from ,"code": on), as -j writes
    // it, after the sender.
    block_.assign(direction == Direction::Pc ? "\"from\":\"pc\"" : "\"from\":\"qmr5v\"");
    {
        Out out(&block_, false, 1 << 12);
        JsonSink sink(out);
        sink.begin();
        decodeMessage(direction, field, sink);
        sink.end();
        out.flush();
    }
    if (!block_.empty() && block_.back() == '\n') block_.pop_back();
    lowerAscii(block_.data(), block_.size());
    // Cut before each field's object and before the errors. A text in the
    // line has its quotes escaped, so {"name":" only ever opens a field.
    const std::string_view line(block_);
    const std::size_t errors = line.rfind("],\"errors\":[");
    std::size_t from = 0;
    for (std::size_t at = line.find("{\"name\":\""); at < errors; at = line.find("{\"name\":\"", at + 1)) {
        if (at > from) parts_.push_back(intern(line.substr(from, at - from)));
        from = at;
    }
    if (errors != std::string_view::npos && errors > from) {
        parts_.push_back(intern(line.substr(from, errors - from)));
        from = errors;
    }
    parts_.push_back(intern(line.substr(from)));
    firstPart_.push_back(static_cast<std::uint32_t>(parts_.size()));
}

void SearchIndex::finish()
{
    table_ = std::vector<std::uint32_t>();
    block_ = std::string();
}

void SearchIndex::begin(std::string_view query)
{
    std::string needle(query);
    lowerAscii(needle.data(), needle.size());
    partHit_.assign(partAt_.size(), 0);
    searched_ = 0;
    if (needle.empty() || needle.find('\n') != std::string::npos) return;
    const std::string_view text(text_);
    for (std::size_t at = text.find(needle); at != std::string_view::npos;) {
        const auto id = static_cast<std::size_t>(std::upper_bound(partAt_.begin(), partAt_.end(), at) - partAt_.begin() - 1);
        partHit_[id] = 1;
        // The rest of that part need not be looked at.
        if (id + 1 == partAt_.size()) break;
        at = text.find(needle, partAt_[id + 1]);
    }
}

bool SearchIndex::step(std::size_t count, std::string& hits)
{
    const std::size_t n = size();
    hits.resize(n);
    const std::size_t last = std::min(n, searched_ + count);
    const std::uint8_t* hit = partHit_.data();
    for (std::size_t i = searched_; i < last; ++i) {
        std::uint8_t found = 0;
        for (std::uint32_t k = firstPart_[i]; k < firstPart_[i + 1]; ++k) found |= hit[parts_[k]];
        hits[i] = static_cast<char>(found);
    }
    searched_ = last;
    return searched_ == n;
}

} // namespace vornlog
