// Some bytes compressed in the zlib format (RFC 1950 around RFC 1951's
// deflate), for the capture that the viewer page carries (-w): the browser
// inflates it with its own DecompressionStream("deflate"). Fixed Huffman
// codes, with LZ77 matches found greedily through one hash of four bytes
// (no chains): a capture's hex text shrinks to about a third, faster than
// the report of the same capture is written.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vornlog {

// Hands the compressed bytes on, in order, in blocks of a few hundred
// kilobytes (the last may be shorter), through `put`.
void zlibCompress(std::string_view bytes, const std::function<void(std::string_view)>& put);

// The same, in one string.
std::string zlibCompress(std::string_view bytes);

} // namespace vornlog
