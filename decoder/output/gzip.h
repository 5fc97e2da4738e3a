// A gzip file of some bytes (RFC 1951 and 1952), for the capture that the
// viewer page carries (-w): the browser inflates it with its own
// DecompressionStream. One block of fixed Huffman codes with LZ77 matches
// found through a hash of three bytes: a capture's hex text shrinks to a
// fraction, in about the time it takes to read it.
#pragma once

#include <string>
#include <string_view>

namespace vornlog {

std::string gzip(std::string_view bytes);

} // namespace vornlog
