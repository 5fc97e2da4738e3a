// The text search's index: every message's JSON line cut into its parts
// (the sender with the instruction, each field's object, the errors), the
// parts that repeat kept once. A search looks at each distinct part once,
// then at each message's list of parts: a million messages hold some
// hundreds of thousands of distinct parts, so that a search takes a small
// share of the time that writing every line again would.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"

namespace vornlog {

class SearchIndex {
public:
    // Makes room for about `messages` messages.
    void reserve(std::size_t messages);

    // Adds the next message: its sender and its data field, as the capture
    // gives it; its parts are the JSON line's, in A to Z as a to z.
    void add(Direction direction, std::string_view field);

    // Once every message is in: the table that finds the parts is let go.
    void finish();

    std::size_t size() const { return firstPart_.size() - 1; }

    // A search for `query` (as the JSON line writes it: escaped), A to Z
    // matching a to z: the parts that hold it are found at once, then
    // step() marks the messages that have one of them.
    void begin(std::string_view query);
    // Writes into `hits` (one byte per message) the next `count` messages'
    // answers; true when every message has been looked at.
    bool step(std::size_t count, std::string& hits);

private:
    std::uint32_t intern(std::string_view part);

    std::string text_;                  // the distinct parts, each ended by '\n'
    std::vector<std::uint32_t> partAt_; // where each distinct part begins in text_
    std::vector<std::uint32_t> parts_;  // each message's parts, one after the other
    std::vector<std::uint32_t> firstPart_{0}; // message i's parts: [firstPart_[i], firstPart_[i + 1])
    std::vector<std::uint32_t> table_;  // open addressing: part id + 1, 0 for a free slot
    std::string block_;                 // the decoded parts of the message being added
    std::vector<std::uint8_t> partHit_; // the search under way: the parts that hold the query
    std::size_t searched_ = 0;          // the messages looked at so far
};

} // namespace vornlog
