#include "deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <cstdint>
#include <vector>

namespace vornlog {

namespace {

constexpr std::size_t kWindow = 1 << 15;
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 258;
constexpr int kHashBits = 15;
// How many earlier places with the same hash are tried for a match.
constexpr int kChain = 2;
// Matches up to this long have every place inside them hashed.
constexpr std::size_t kInsertWithin = 4;

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                                         33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

std::uint32_t reverse(std::uint32_t code, int bits)
{
    std::uint32_t r = 0;
    for (int i = 0; i < bits; ++i) r |= ((code >> i) & 1u) << (bits - 1 - i);
    return r;
}

// The fixed Huffman code of every literal and length symbol, bits reversed
// (a deflate stream takes Huffman codes from their first bit).
struct FixedCodes {
    std::array<std::uint16_t, 288> code{};
    std::array<std::uint8_t, 288> bits{};
    std::array<std::uint8_t, 30> distance{};
    // Symbol of each match length 3 to 258, and of each distance 1 to 32768.
    std::array<std::uint16_t, kMaxMatch + 1> lengthSymbol{};
    std::array<std::uint8_t, 512> distanceSymbol{};

    FixedCodes()
    {
        for (int s = 0; s < 288; ++s) {
            std::uint32_t c = 0;
            int n = 0;
            if (s < 144) {
                c = 0x30 + s;
                n = 8;
            } else if (s < 256) {
                c = 0x190 + (s - 144);
                n = 9;
            } else if (s < 280) {
                c = s - 256;
                n = 7;
            } else {
                c = 0xC0 + (s - 280);
                n = 8;
            }
            code[s] = static_cast<std::uint16_t>(reverse(c, n));
            bits[s] = static_cast<std::uint8_t>(n);
        }
        for (int d = 0; d < 30; ++d) distance[d] = static_cast<std::uint8_t>(reverse(d, 5));
        for (int i = 0; i < 29; ++i)
            for (std::size_t len = kLengthBase[i]; len < kLengthBase[i] + (1u << kLengthExtra[i]) && len <= kMaxMatch; ++len)
                lengthSymbol[len] = static_cast<std::uint16_t>(i);
        lengthSymbol[kMaxMatch] = 28;
        // Distances up to 256 directly, beyond by (distance - 1) / 128: the
        // codes beyond 256 begin at multiples of 128.
        for (int i = 0; i < 30; ++i)
            for (std::uint32_t d = kDistanceBase[i]; d < kDistanceBase[i] + (1u << kDistanceExtra[i]); ++d) {
                if (d <= 256)
                    distanceSymbol[d - 1] = static_cast<std::uint8_t>(i);
                else
                    distanceSymbol[256 + ((d - 1) >> 7)] = static_cast<std::uint8_t>(i);
            }
    }

    int distanceCode(std::uint32_t d) const
    {
        return d <= 256 ? distanceSymbol[d - 1] : distanceSymbol[256 + ((d - 1) >> 7)];
    }
};

const FixedCodes& fixedCodes()
{
    static const FixedCodes codes;
    return codes;
}

// Bits into a buffer that has room for the worst case (every byte a 9-bit
// literal), from the first bit of each byte on.
class BitWriter {
public:
    explicit BitWriter(char* out) : out_(out) {}
    void put(std::uint32_t value, int bits)
    {
        acc_ |= static_cast<std::uint64_t>(value) << used_;
        used_ += bits;
        if (used_ >= 32) {
            const auto word = static_cast<std::uint32_t>(acc_);
            for (int i = 0; i < 4; ++i) *out_++ = static_cast<char>((word >> (8 * i)) & 0xFF);
            acc_ >>= 32;
            used_ -= 32;
        }
    }
    // The last bits; returns the end of what was written.
    char* finish()
    {
        while (used_ > 0) {
            *out_++ = static_cast<char>(acc_ & 0xFF);
            acc_ >>= 8;
            used_ -= 8;
        }
        used_ = 0;
        return out_;
    }

private:
    char* out_;
    std::uint64_t acc_ = 0;
    int used_ = 0;
};

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
        const std::size_t run = n < kRun ? n : kRun;
        for (std::size_t i = 0; i < run; ++i) {
            a += p[i];
            b += a;
        }
        a %= kBase;
        b %= kBase;
        p += run;
        n -= run;
    }
    return (b << 16) | a;
}

void putBe32(std::string& out, std::uint32_t v)
{
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

} // namespace

std::string zlibCompress(std::string_view bytes)
{
    const FixedCodes& f = fixedCodes();
    // Deflate, a 32K window, no dictionary (0x78 0x01: a multiple of 31).
    constexpr char kHeader[] = {'\x78', '\x01'};
    std::string out(sizeof kHeader + bytes.size() + bytes.size() / 8 + 64, '\0');
    std::memcpy(out.data(), kHeader, sizeof kHeader);
    BitWriter bits(out.data() + sizeof kHeader);
    bits.put(1, 1); // the last block
    bits.put(1, 2); // fixed Huffman codes

    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t n = bytes.size();
    constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    std::vector<std::uint32_t> head(std::size_t{1} << kHashBits, kNone);
    std::vector<std::uint32_t> previous(kWindow, kNone);
    const auto hash = [p](std::size_t i) {
        const std::uint32_t v = p[i] | (std::uint32_t{p[i + 1]} << 8) | (std::uint32_t{p[i + 2]} << 16);
        return (v * 2654435761u) >> (32 - kHashBits);
    };
    const auto insert = [&](std::size_t i) {
        const std::uint32_t h = hash(i);
        previous[i & (kWindow - 1)] = head[h];
        head[h] = static_cast<std::uint32_t>(i);
    };
    const auto literal = [&](std::uint8_t b) { bits.put(f.code[b], f.bits[b]); };

    std::size_t i = 0;
    while (i < n) {
        std::size_t bestLength = 0;
        std::size_t bestDistance = 0;
        if (i + kMinMatch <= n) {
            const std::size_t limit = std::min(kMaxMatch, n - i);
            std::uint32_t candidate = head[hash(i)];
            for (int tries = 0; tries < kChain && candidate != kNone; ++tries) {
                const std::size_t distance = i - candidate;
                if (distance == 0 || distance > kWindow) break;
                if (p[candidate + bestLength] == p[i + bestLength]) {
                    const std::size_t length = matchLength(p + candidate, p + i, limit);
                    if (length > bestLength) {
                        bestLength = length;
                        bestDistance = distance;
                        if (length == limit) break;
                    }
                }
                const std::uint32_t next = previous[candidate & (kWindow - 1)];
                if (next == kNone || next >= candidate) break;
                candidate = next;
            }
            insert(i);
        }
        if (bestLength < kMinMatch) {
            literal(p[i]);
            ++i;
            continue;
        }
        const int ls = f.lengthSymbol[bestLength];
        bits.put(f.code[257 + ls], f.bits[257 + ls]);
        if (kLengthExtra[ls]) bits.put(static_cast<std::uint32_t>(bestLength - kLengthBase[ls]), kLengthExtra[ls]);
        const int ds = f.distanceCode(static_cast<std::uint32_t>(bestDistance));
        bits.put(f.distance[ds], 5);
        if (kDistanceExtra[ds]) bits.put(static_cast<std::uint32_t>(bestDistance - kDistanceBase[ds]), kDistanceExtra[ds]);
        // The places inside a short match are hashed too (but the last
        // two, which have no three bytes of their own to the end); a long
        // one is passed over, as its bytes will be matched as a whole.
        if (bestLength <= kInsertWithin)
            for (std::size_t k = i + 1; k < i + bestLength && k + kMinMatch <= n; ++k) insert(k);
        i += bestLength;
    }
    bits.put(f.code[256], f.bits[256]); // end of block
    out.resize(static_cast<std::size_t>(bits.finish() - out.data()));
    putBe32(out, adler32(bytes));
    return out;
}

} // namespace vornlog
