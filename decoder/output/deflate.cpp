#include "deflate.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <libdeflate.h>

namespace vornlog {

namespace {

// libdeflate's level: on a capture's hex text, the fastest of its levels
// (1) already makes a page smaller than Huffman codes fixed in advance,
// and compresses on two threads faster than the report is written
// (bench/deflate.sh measures both).
constexpr int kLevel = 1;

// Compresses `bytes` into `room` as one part: its length, then its zlib
// stream. `room` grows to fit and never shrinks.
std::string_view compressPart(libdeflate_compressor* c, std::string_view bytes, std::string& room)
{
    const std::size_t most = kDeflatePartHead + libdeflate_zlib_compress_bound(c, bytes.size());
    if (room.size() < most) room.resize(most);
    const std::size_t n =
        libdeflate_zlib_compress(c, bytes.data(), bytes.size(), room.data() + kDeflatePartHead,
                                    room.size() - kDeflatePartHead);
    // (Within its bound a stream always fits; a part of a few megabytes
    // compresses to far fewer than 4 GB.)
    for (std::size_t k = 0; k < kDeflatePartHead; ++k) room[k] = static_cast<char>((n >> (8 * k)) & 0xFF);
    return {room.data(), kDeflatePartHead + n};
}

} // namespace

void DeflateWriter::FreeCompressor::operator()(libdeflate_compressor* c) const
{
    libdeflate_free_compressor(c);
}

DeflateWriter::DeflateWriter(RunTogether together, std::size_t partSize)
    : together_(std::move(together)), partSize_(std::max<std::size_t>(partSize, 1))
{
}

DeflateWriter::~DeflateWriter() = default;

void DeflateWriter::add(std::string_view bytes)
{
    added_ += bytes.size();
    const std::size_t batch = together_ ? 2 * partSize_ : partSize_;
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), batch - waiting_.size());
        waiting_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (waiting_.size() == batch) makeParts();
    }
}

void DeflateWriter::restart()
{
    waiting_.clear();
    made_.clear();
    untaken_.clear();
    parts_ = 0;
    added_ = 0;
}

void DeflateWriter::takeParts(const std::function<void(std::string_view part, std::size_t size)>& take)
{
    std::size_t at = 0;
    for (const auto& [length, size] : untaken_) {
        take(std::string_view(made_).substr(at, length), size);
        at += length;
    }
    made_.clear();
    untaken_.clear();
}

void DeflateWriter::take(const std::function<void(std::string_view)>& put)
{
    if (made_.empty()) return;
    put(made_);
    made_.clear();
    untaken_.clear();
}

void DeflateWriter::finish(const std::function<void(std::string_view)>& put)
{
    if (!waiting_.empty() || parts_ == 0) makeParts();
    put(made_);
    restart();
}

void DeflateWriter::makeParts()
{
    const std::string_view bytes(waiting_);
    // One part, or two made at once, each by its own compressor.
    const bool two = together_ && bytes.size() > partSize_;
    for (int k = 0; k < (two ? 2 : 1); ++k) {
        if (compressors_[k]) continue;
        compressors_[k].reset(libdeflate_alloc_compressor(kLevel));
        if (!compressors_[k]) throw std::bad_alloc();
    }
    const std::size_t middle = two ? partSize_ : bytes.size();
    std::string_view made[2];
    const auto part = [&](int k, std::string_view of) { made[k] = compressPart(compressors_[k].get(), of, rooms_[k]); };
    if (two)
        together_([&] { part(1, bytes.substr(middle)); }, [&] { part(0, bytes.substr(0, middle)); });
    else
        part(0, bytes);
    for (int k = 0; k < (two ? 2 : 1); ++k) {
        made_.append(made[k]);
        untaken_.emplace_back(made[k].size(), k == 0 ? middle : bytes.size() - middle);
        ++parts_;
    }
    waiting_.clear();
}

} // namespace vornlog
