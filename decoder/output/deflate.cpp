#include "deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vornlog {

namespace {

constexpr std::size_t kWindow = 1 << 15;
// Shorter matches are left as literals: in a capture's hex text the short
// ones are everywhere, and taking them makes the stream longer.
constexpr std::size_t kMinMatch = 6;
constexpr std::size_t kMaxMatch = 258;
constexpr int kHashBits = 16;

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                                         33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr std::uint32_t reverse(std::uint32_t code, int bits)
{
    std::uint32_t r = 0;
    for (int i = 0; i < bits; ++i) r |= ((code >> i) & 1u) << (bits - 1 - i);
    return r;
}

// Some bits as they go into the stream: the value, first bit first, and
// how many.
struct Code {
    std::uint32_t value = 0;
    std::uint32_t bits = 0;
};

// The fixed Huffman code of a literal or length symbol, bits reversed (a
// deflate stream takes Huffman codes from their first bit).
constexpr Code fixedCode(int s)
{
    if (s < 144) return {reverse(0x30 + s, 8), 8};
    if (s < 256) return {reverse(0x190 + (s - 144), 9), 9};
    if (s < 280) return {reverse(s - 256, 7), 7};
    return {reverse(0xC0 + (s - 280), 8), 8};
}

// Every literal's code; every match length's code with its extra bits; and
// every distance's, each written with one call.
struct FixedCodes {
    std::array<Code, 257> literal{}; // and the end of the block
    std::array<Code, kMaxMatch + 1> length{};
    std::array<Code, kWindow + 1> distance{};

    FixedCodes()
    {
        for (int s = 0; s <= 256; ++s) literal[s] = fixedCode(s);
        for (int i = 0; i < 29; ++i)
            for (std::uint32_t len = kLengthBase[i]; len < kLengthBase[i] + (1u << kLengthExtra[i]) && len <= kMaxMatch;
                 ++len) {
                const Code c = fixedCode(257 + i);
                length[len] = {c.value | ((len - kLengthBase[i]) << c.bits), c.bits + kLengthExtra[i]};
            }
        const Code last = fixedCode(257 + 28); // 258 has a code of its own, without extra bits
        length[kMaxMatch] = last;
        for (int i = 0; i < 30; ++i)
            for (std::uint32_t d = kDistanceBase[i]; d < kDistanceBase[i] + (1u << kDistanceExtra[i]); ++d)
                distance[d] = {reverse(static_cast<std::uint32_t>(i), 5) | ((d - kDistanceBase[i]) << 5),
                               5u + kDistanceExtra[i]};
    }
};

const FixedCodes& fixedCodes()
{
    static const FixedCodes codes;
    return codes;
}

// The first kMinMatch bytes at p (eight are read).
std::uint64_t firstBytes(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little)
        return v & ((std::uint64_t{1} << (8 * kMinMatch)) - 1);
    else
        return v >> (64 - 8 * kMinMatch);
}

// How many bytes from a and b are equal, up to limit.
std::size_t matchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t limit)
{
    std::size_t n = 0;
    while (n + 8 <= limit) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) {
            if constexpr (std::endian::native == std::endian::little)
                return n + static_cast<std::size_t>(std::countr_zero(x ^ y) / 8);
            break;
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

std::uint32_t adler32(std::string_view bytes)
{
    constexpr std::uint32_t kBase = 65521;
    // The most bytes whose sums cannot overflow 32 bits before the modulo.
    constexpr std::size_t kRun = 5552;
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t n = bytes.size();
    while (n > 0) {
        std::size_t run = n < kRun ? n : kRun;
        n -= run;
        // Eight bytes at a time: b gains eight times a, then each byte
        // weighted by the steps left after it.
        for (; run >= 8; run -= 8, p += 8) {
            b += 8 * a + 8u * p[0] + 7u * p[1] + 6u * p[2] + 5u * p[3] + 4u * p[4] + 3u * p[5] + 2u * p[6] + p[7];
            a += 0u + p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7];
        }
        for (; run > 0; --run) {
            a += *p++;
            b += a;
        }
        a %= kBase;
        b %= kBase;
    }
    return (b << 16) | a;
}

// The bits of a deflate stream, from the first bit of each byte on, kept
// in a 64-bit accumulator that holds fewer than 8 between steps: each step
// stores eight bytes and moves on by the whole ones. (Local variables in
// the caller, not members: the compiler keeps them in registers.)
struct BitWriter {
    std::uint8_t*& out;
    std::uint64_t& acc;
    std::uint32_t& used;

    void put(Code c) const
    {
        acc |= static_cast<std::uint64_t>(c.value) << used;
        used += c.bits;
        for (int k = 0; k < 8; ++k) out[k] = static_cast<std::uint8_t>(acc >> (8 * k));
        out += used >> 3;
        acc >>= used & ~7u;
        used &= 7;
    }
};

// Room beyond the compressed bytes of a part for the last store of eight
// bytes and the part's end.
constexpr std::size_t kSlack = 64;

// Compresses base[from, to) as one block of fixed codes: base[0, from) is
// what came before it, which matches may reach back into. `first`: the
// zlib header comes first; `last`: the stream's last block, else the block
// ends on a whole byte (an empty stored block), so that the next one can
// be made apart and joined. The bytes are made at the start of `room`,
// which grows to fit and never shrinks.
std::string_view compressBlock(const std::uint8_t* base, std::size_t from, std::size_t to, bool first, bool last,
                               std::string& room)
{
    const FixedCodes& f = fixedCodes();
    // Fixed codes take at most 9 bits for a byte.
    const std::size_t most = (to - from) / 8 * 9 + kSlack + 16;
    if (room.size() < most) room.resize(most);
    auto* start = reinterpret_cast<std::uint8_t*>(room.data());
    std::uint8_t* o = start;
    std::uint64_t acc = 0;
    std::uint32_t used = 0;
    const BitWriter bits{o, acc, used};
    // Deflate, a 32K window, no dictionary (0x78 0x01: a multiple of 31).
    if (first) bits.put({0x0178, 16});
    bits.put({last ? 0b011u : 0b010u, 3}); // a block of fixed Huffman codes, the last one or not

    const std::uint8_t* p = base;
    const std::size_t n = to;
    // The last place where each hash of kMinMatch bytes was seen in this
    // block (its offset, modulo 2^32: a wrong one is caught by comparing
    // the bytes).
    std::vector<std::uint32_t> head(std::size_t{1} << kHashBits, static_cast<std::uint32_t>(from));
    const auto hash = [](std::uint64_t v) {
        return static_cast<std::uint32_t>((v * 0x9E3779B97F4A7C15u) >> (64 - kHashBits));
    };
    // Eight bytes are read at each place: the block's last seven go as
    // literals.
    const std::size_t scanned = n >= 7 ? n - 7 : 0;
    std::size_t i = from;
    while (i < scanned) {
        const std::uint64_t v = firstBytes(p + i);
        const std::uint32_t h = hash(v);
        const std::uint32_t distance = static_cast<std::uint32_t>(i) - head[h];
        head[h] = static_cast<std::uint32_t>(i);
        const std::size_t limit = std::min(kMaxMatch, n - i);
        if (distance - 1 < kWindow && distance <= i && firstBytes(p + i - distance) == v) {
            const std::size_t length =
                kMinMatch + matchLength(p + i - distance + kMinMatch, p + i + kMinMatch, limit - kMinMatch);
            const Code l = f.length[length];
            const Code d = f.distance[distance];
            bits.put({l.value | (d.value << l.bits), l.bits + d.bits});
            // The end of a match is hashed too: what follows often
            // repeats from there.
            const std::size_t end = i + length;
            if (end + 6 <= n) head[hash(firstBytes(p + end - 2))] = static_cast<std::uint32_t>(end - 2);
            i = end;
        } else {
            // No match here: this byte and the next go as literals, and
            // the next is not looked up. A match that would have begun
            // there begins a byte later; a capture's hex text grows by a
            // tenth, and is made a fifth faster.
            const Code a = f.literal[p[i]];
            const Code b = f.literal[p[i + 1]];
            bits.put({a.value | (b.value << a.bits), a.bits + b.bits});
            i += 2;
        }
    }
    for (; i < n; ++i) bits.put(f.literal[p[i]]);
    bits.put(f.literal[256]); // end of block
    if (!last) {
        // An empty stored block brings the next block to a whole byte.
        bits.put({0b000, 3});
        if (used > 0) bits.put({0, 8 - used});
        bits.put({0xFFFF0000u, 32});
    } else if (used > 0) {
        bits.put({0, 8 - used}); // the last bits, to a whole byte
    }
    return {room.data(), static_cast<std::size_t>(o - start)};
}

} // namespace

ZlibWriter::ZlibWriter(RunTogether together, std::size_t partSize)
    : together_(std::move(together)), partSize_(std::max<std::size_t>(partSize, 1))
{
}

void ZlibWriter::add(std::string_view bytes)
{
    added_ += bytes.size();
    const std::size_t batch = together_ ? 2 * partSize_ : partSize_;
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), history_ + batch - window_.size());
        window_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (window_.size() == history_ + batch) makeParts(false);
    }
}

void ZlibWriter::restart()
{
    window_.clear();
    history_ = 0;
    made_.clear();
    untaken_.clear();
    checks_.clear();
    added_ = 0;
}

void ZlibWriter::takeParts(const std::function<void(std::string_view part, std::size_t size)>& take)
{
    std::size_t at = 0;
    for (const auto& [length, size] : untaken_) {
        take(std::string_view(made_).substr(at, length), size);
        at += length;
    }
    made_.clear();
    untaken_.clear();
}

void ZlibWriter::take(const std::function<void(std::string_view)>& put)
{
    if (made_.empty()) return;
    put(made_);
    made_.clear();
    untaken_.clear();
}

void ZlibWriter::finish(const std::function<void(std::string_view)>& put)
{
    makeParts(true);
    put(made_);
    // The checksum of the whole from those of its parts: a part of n bytes
    // whose sums began at 1 and 0 adds (a - 1) to a and n * (a - 1) to b,
    // where a is the sum before it.
    constexpr std::uint64_t kBase = 65521;
    std::uint64_t a = 1;
    std::uint64_t b = 0;
    for (const auto& [check, size] : checks_) {
        const std::uint64_t pa = check & 0xFFFF;
        const std::uint64_t pb = check >> 16;
        b = (b + pb + (size % kBase) * ((a + kBase - 1) % kBase)) % kBase;
        a = (a + pa + kBase - 1) % kBase;
    }
    const std::uint32_t check = static_cast<std::uint32_t>((b << 16) | a);
    char end[4];
    for (int k = 0; k < 4; ++k) end[k] = static_cast<char>((check >> (8 * (3 - k))) & 0xFF);
    put(std::string_view(end, 4));
    restart();
}

void ZlibWriter::makeParts(bool last)
{
    const auto* base = reinterpret_cast<const std::uint8_t*>(window_.data());
    const std::size_t from = history_;
    const std::size_t to = window_.size();
    const bool first = checks_.empty();
    // One part, or two made at once: the second reaches back into the
    // first, which lies before it in the window.
    const std::size_t middle = together_ && to - from > partSize_ ? from + partSize_ : to;
    std::string_view made[2];
    std::uint32_t check[2] = {1, 1};
    const auto part = [&](int k, std::size_t a, std::size_t b, bool isFirst, bool isLast) {
        made[k] = compressBlock(base, a, b, isFirst, isLast, rooms_[k]);
        check[k] = adler32(std::string_view(window_).substr(a, b - a));
    };
    if (middle < to)
        together_([&] { part(1, middle, to, false, last); }, [&] { part(0, from, middle, first, false); });
    else
        part(0, from, to, first, last);
    for (int k = 0; k < (middle < to ? 2 : 1); ++k) {
        made_.append(made[k]);
        checks_.emplace_back(check[k], k == 0 ? middle - from : to - middle);
        untaken_.emplace_back(made[k].size(), k == 0 ? middle - from : to - middle);
    }
    // The window keeps what the next part's matches may reach back into.
    const std::size_t keep = std::min(to, kWindow);
    window_.erase(0, to - keep);
    history_ = keep;
}

} // namespace vornlog
