// Some bytes compressed in the zlib format (RFC 1950 around RFC 1951's
// deflate), for the capture that the viewer page carries (-w): the browser
// inflates it with its own DecompressionStream("deflate"). Fixed Huffman
// codes, with LZ77 matches found greedily through one hash of six bytes
// (no chains): a capture's hex text shrinks to about a third.
//
// The stream is made in parts of a few megabytes, each a deflate block that
// ends on a whole byte, so that parts can be compressed at the same time
// on different processors and joined in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <string_view>

namespace vornlog {

// The size of a part: big enough that its few bytes of end and its matches
// lost at its start cost nothing to speak of.
inline constexpr std::size_t kZlibPart = std::size_t{1} << 21;

class ZlibParts {
public:
    explicit ZlibParts(std::string_view bytes, std::size_t partSize = kZlibPart);

    std::size_t count() const { return checks_.size(); }

    // Part k's compressed bytes (the zlib header comes with the first
    // part), made at the start of `room`, which grows to fit and never
    // shrinks: a room used again for the next part costs no clearing.
    // Touches part k's own state only: two parts can be made at once on
    // two threads, each in its own room.
    std::string_view compress(std::size_t k, std::string& room);

    // The stream's end (the checksum of the whole), once every part is
    // made.
    std::string end() const;

private:
    std::string_view bytes_;
    std::size_t partSize_;
    std::vector<std::uint32_t> checks_; // each part's Adler-32
};

// Runs two pieces of work and returns when both are done: at once on two
// threads where the program can start one, or one after the other.
using RunTogether = std::function<void(const std::function<void()>&, const std::function<void()>&)>;

// Hands the compressed bytes on, in order, through `put`; the parts are
// made on two threads through `together` when it is given.
void zlibCompress(std::string_view bytes, const std::function<void(std::string_view)>& put,
                  const RunTogether& together = nullptr, std::size_t partSize = kZlibPart);

// The same, in one string.
std::string zlibCompress(std::string_view bytes);

} // namespace vornlog
