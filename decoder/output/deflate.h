// Some bytes compressed in the zlib format (RFC 1950 around RFC 1951's
// deflate), for the capture that the viewer page carries (-w): the browser
// inflates it with its own DecompressionStream("deflate"). One block of fixed Huffman codes with LZ77 matches
// found through a hash of three bytes: a capture's hex text shrinks to a
// fraction, in about the time it takes to read it.
#pragma once

#include <string>
#include <string_view>

namespace vornlog {

std::string zlibCompress(std::string_view bytes);

} // namespace vornlog
