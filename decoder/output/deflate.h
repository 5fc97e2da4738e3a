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
#include <string_view>
#include <utility>
#include <vector>

namespace vornlog {

// The size of a part: big enough that its few bytes of end and its matches
// lost at its start cost nothing to speak of.
inline constexpr std::size_t kZlibPart = std::size_t{1} << 21;

// Runs two pieces of work and returns when both are done: at once on two
// threads where the program can start one, or one after the other.
using RunTogether = std::function<void(const std::function<void()>&, const std::function<void()>&)>;

// The zlib stream of bytes that come in pieces (a capture as it is read):
// each part is compressed once it is whole, two at a time through
// `together` when it is given, and only the compressed bytes and the last
// 32 KB read are kept.
class ZlibWriter {
public:
    explicit ZlibWriter(RunTogether together = nullptr, std::size_t partSize = kZlibPart);

    void add(std::string_view bytes);

    // Forgets every byte added: the stream begins again (a followed file
    // read again from its start).
    void restart();

    // Hands on each part made since the last call, in order, with the
    // number of bytes it holds, and keeps no more of it: a store on disk
    // keeps it instead, and hands it on before what finish() hands on. A
    // part refers to no byte before it, so that it may be inflated by
    // itself as raw deflate (the first begins with the stream's two bytes
    // of header).
    void takeParts(const std::function<void(std::string_view part, std::size_t size)>& take);

    // Hands on through `put` the compressed bytes made so far, and lets go
    // of them: what finish() hands on then is the rest of the stream.
    void take(const std::function<void(std::string_view)>& put);

    // Compresses what is left and hands the whole stream on through `put`,
    // in order; then begins again.
    void finish(const std::function<void(std::string_view)>& put);

    // The bytes added since the stream began.
    std::uint64_t added() const { return added_; }

private:
    // Compresses the bytes waiting in the window (one part, or two at once
    // through `together_`); `last`: they end the stream.
    void makeParts(bool last);

    RunTogether together_;
    std::size_t partSize_;
    std::string window_;       // what came before (up to 32 KB), then the bytes waiting
    std::size_t history_ = 0;  // how much of the window came before
    std::string rooms_[2];     // where parts are made, kept from part to part
    std::string made_;         // the compressed bytes so far (not taken)
    std::vector<std::pair<std::size_t, std::size_t>> untaken_; // the parts in made_: their length and size
    std::vector<std::pair<std::uint32_t, std::uint64_t>> checks_; // each part's Adler-32 and size
    std::uint64_t added_ = 0;
};

} // namespace vornlog
