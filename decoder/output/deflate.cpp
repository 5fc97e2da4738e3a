#include "deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
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

// The compressed bytes are handed on when this many are waiting.
constexpr std::size_t kBlock = 1 << 18;
// Room beyond a block for what one step writes at most (a match's 31 bits,
// or the end) before the block is handed on.
constexpr std::size_t kSlack = 64;

} // namespace

void zlibCompress(std::string_view bytes, const std::function<void(std::string_view)>& put)
{
    const FixedCodes& f = fixedCodes();
    const auto buffer = std::make_unique<char[]>(kBlock + kSlack);
    // The bits go out from the first bit of each byte on, through a 64-bit
    // accumulator that holds less than 32 between steps. (Local variables,
    // not members: the compiler keeps them in registers.)
    char* out = buffer.get();
    std::uint64_t acc = 0;
    std::uint32_t used = 0;
    const auto bits = [&](Code c) {
        acc |= static_cast<std::uint64_t>(c.value) << used;
        used += c.bits;
        if (used >= 32) {
            for (int k = 0; k < 4; ++k) out[k] = static_cast<char>((acc >> (8 * k)) & 0xFF);
            out += 4;
            acc >>= 32;
            used -= 32;
        }
    };
    const auto handOn = [&] {
        put(std::string_view(buffer.get(), static_cast<std::size_t>(out - buffer.get())));
        out = buffer.get();
    };
    // Deflate, a 32K window, no dictionary (0x78 0x01: a multiple of 31).
    bits({0x0178, 16});
    bits({0b011, 3}); // the last block, fixed Huffman codes

    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t n = bytes.size();
    // The last place where each hash of kMinMatch bytes was seen (its
    // offset, modulo 2^32: a wrong one is caught by comparing the bytes).
    std::vector<std::uint32_t> head(std::size_t{1} << kHashBits, 0);
    const auto hash = [](std::uint64_t v) {
        return static_cast<std::uint32_t>((v * 0x9E3779B97F4A7C15u) >> (64 - kHashBits));
    };

    std::size_t i = 0;
    while (i + 8 <= n) {
        // A block's worth of steps between looks at the buffer: one step
        // writes four bytes at most.
        const std::size_t stop = std::min(n - 8, i + (kBlock - static_cast<std::size_t>(out - buffer.get())) / 4);
        while (i <= stop) {
            const std::uint64_t v = firstBytes(p + i);
            const std::uint32_t h = hash(v);
            const std::uint32_t distance = static_cast<std::uint32_t>(i) - head[h];
            head[h] = static_cast<std::uint32_t>(i);
            if (distance - 1 < kWindow && distance <= i && firstBytes(p + i - distance) == v) {
                const std::size_t limit = std::min(kMaxMatch, n - i);
                const std::size_t length =
                    kMinMatch + matchLength(p + i - distance + kMinMatch, p + i + kMinMatch, limit - kMinMatch);
                const Code l = f.length[length];
                const Code d = f.distance[distance];
                bits({l.value | (d.value << l.bits), l.bits + d.bits});
                // The end of a match is hashed too: what follows often
                // repeats from there.
                const std::size_t end = i + length;
                if (end + 6 <= n) head[hash(firstBytes(p + end - 2))] = static_cast<std::uint32_t>(end - 2);
                i = end;
            } else {
                bits(f.literal[p[i]]);
                ++i;
            }
        }
        if (static_cast<std::size_t>(out - buffer.get()) + 4 * 64 >= kBlock) handOn();
    }
    for (; i < n; ++i) {
        bits(f.literal[p[i]]);
        if (static_cast<std::size_t>(out - buffer.get()) >= kBlock) handOn();
    }
    bits(f.literal[256]); // end of block
    while (used > 0) { // the last bits, to a whole byte
        *out++ = static_cast<char>(acc & 0xFF);
        acc >>= 8;
        used = used > 8 ? used - 8 : 0;
    }
    const std::uint32_t check = adler32(bytes);
    for (int k = 3; k >= 0; --k) *out++ = static_cast<char>((check >> (8 * k)) & 0xFF);
    handOn();
}

std::string zlibCompress(std::string_view bytes)
{
    std::string out;
    zlibCompress(bytes, [&out](std::string_view block) { out.append(block); });
    return out;
}

} // namespace vornlog
