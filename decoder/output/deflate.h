// Some bytes compressed for the capture that the viewer page carries (-w),
// with libdeflate: the stream is a run of parts, each the four bytes of its
// length (little-endian) then a zlib stream of its own (DEFLATE between two
// bytes of header and the Adler-32 checksum of what it holds), which the
// page inflates with its own DecompressionStream("deflate"), one part after
// the other: a part damaged on its way is found by its checksum.
//
// Parts of a few megabytes, each compressed without the bytes before it,
// so that two parts can be compressed at the same time on different
// processors and joined in order, and one part can be inflated by itself
// (the live viewer's store reads the capture back from any part).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct libdeflate_compressor;

namespace vornlog {

// The size of a part: big enough that its few bytes of Huffman tables and
// its matches lost at its start cost nothing to speak of.
inline constexpr std::size_t kDeflatePart = std::size_t{1} << 21;

// The bytes before each part's DEFLATE stream: its length.
inline constexpr std::size_t kDeflatePartHead = 4;

// Runs two pieces of work and returns when both are done: at once on two
// threads where the program can start one, or one after the other.
using RunTogether = std::function<void(const std::function<void()>&, const std::function<void()>&)>;

// The compressed stream of bytes that come in pieces (a capture as it is
// read): each part is compressed once it is whole, two at a time through
// `together` when it is given, and only the compressed bytes are kept.
class DeflateWriter {
public:
    explicit DeflateWriter(RunTogether together = nullptr, std::size_t partSize = kDeflatePart);
    ~DeflateWriter();
    DeflateWriter(const DeflateWriter&) = delete;
    DeflateWriter& operator=(const DeflateWriter&) = delete;

    void add(std::string_view bytes);

    // Forgets every byte added: the stream begins again (a followed file
    // read again from its start).
    void restart();

    // Hands on each part made since the last call, in order (with its
    // length before it), with the number of bytes it holds, and keeps no
    // more of it: a store on disk keeps it instead, and hands it on before
    // what finish() hands on.
    void takeParts(const std::function<void(std::string_view part, std::size_t size)>& take);

    // Hands on through `put` the compressed bytes made so far, and lets go
    // of them: what finish() hands on then is the rest of the stream.
    void take(const std::function<void(std::string_view)>& put);

    // Compresses what is left and hands the rest of the stream on through
    // `put`, in order; then begins again. A stream of no bytes is one
    // empty part.
    void finish(const std::function<void(std::string_view)>& put);

    // The bytes added since the stream began.
    std::uint64_t added() const { return added_; }

private:
    struct FreeCompressor {
        void operator()(libdeflate_compressor* c) const;
    };

    // Compresses the bytes waiting (one part, or two at once through
    // `together_`).
    void makeParts();

    RunTogether together_;
    std::size_t partSize_;
    std::string waiting_; // the bytes not yet in a part
    std::unique_ptr<libdeflate_compressor, FreeCompressor> compressors_[2]; // one for each thread
    std::string rooms_[2]; // where parts are made, kept from part to part
    std::string made_;     // the compressed bytes so far (not taken)
    std::vector<std::pair<std::size_t, std::size_t>> untaken_; // the parts in made_: their length and size
    std::uint64_t parts_ = 0;                                   // parts made since the stream began
    std::uint64_t added_ = 0;
};

} // namespace vornlog
