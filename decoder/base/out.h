// Buffered output and the report's printf-style line formats.
//
// Every line of the report and of the steps CSV is written with
// put<"format">(out, args...), where the format is the exact printf text of
// the line ("     NBR=0x%08X -> %d pulses\n"). The format is parsed when the
// program is compiled: the argument count is checked then, and at run time a
// line costs a few copies of constant length, with no locale involved.
//
// Conversions understood: %d (signed 32-bit), %X with an optional width and
// zero flag (%02X, %04X, %06X, %08X, %2X), %c (one raw byte), %s (raw text,
// NUL bytes included), %.1f (one digit after the point, C locale) and %%.
#pragma once

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace vornlog {

// A byte sink with a large buffer. It writes to a stdio stream in big
// blocks, or collects everything in a string (tests). On Windows the
// report is written as a text-mode stream writes it: every "\n" byte,
// those carried in messages included, becomes "\r\n".
class Out {
public:
    static constexpr std::size_t kBufferSize = 1 << 18;

    explicit Out(std::FILE* file, bool crlf = platformCrlf());
    // Tests may pick a small buffer, so that flushing happens often. A null
    // string keeps nothing: the bytes are dropped when the buffer is full.
    explicit Out(std::string* collect, bool crlf = false, std::size_t bufferSize = kBufferSize);
    ~Out();
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;

    // Room for n more bytes at pos(); flushes when the buffer is too full.
    char* room(std::size_t n)
    {
        if (static_cast<std::size_t>(end_ - pos_) < n) drain(n);
        return pos_;
    }
    void advance(char* p) { pos_ = p; }

    void write(const char* s, std::size_t n);
    void write(std::string_view s) { write(s.data(), s.size()); }

    // Hands the buffered bytes on. Returns false once any write has failed.
    bool flush();
    bool failed() const { return failed_; }
    // For a terminal: the control bytes a capture may carry (all but tab,
    // line feed and carriage return) go out escaped as \xHH, so that no
    // text of a capture can drive the terminal. A file or a pipe gets the
    // exact bytes.
    void escapeControls(bool on) { escape_ = on; }

    static constexpr bool platformCrlf()
    {
#ifdef _WIN32
        return true;
#else
        return false;
#endif
    }

private:
    void drain(std::size_t need);
    void emit(const char* s, std::size_t n);

    std::FILE* file_ = nullptr;
    std::string* collect_ = nullptr;
    bool crlf_ = false;
    bool failed_ = false;
    bool escape_ = false;
    char* buf_;
    char* pos_;
    char* end_;
};

namespace fmt {

template <std::size_t N>
struct Text {
    char s[N]{};
    consteval Text(const char (&a)[N]) { std::copy_n(a, N, s); }
    // The first N - 1 characters of a text known when compiling.
    consteval explicit Text(std::string_view v) { std::copy_n(v.data(), N - 1, s); }
    static constexpr std::size_t size = N - 1;
    constexpr std::string_view view() const { return {s, N - 1}; }
};

// A format made, when compiling, of a text that a constant holds:
//   fmt::Text<view.size() + 1>(view)
// and of two formats one after the other.
template <std::size_t A, std::size_t B>
consteval Text<A + B - 1> join(const Text<A>& a, const Text<B>& b)
{
    char joined[A + B - 1]{};
    std::copy_n(a.s, A - 1, joined);
    std::copy_n(b.s, B - 1, joined + A - 1);
    return Text<A + B - 1>(std::string_view(joined, A + B - 2));
}

enum class Kind : char { Dec, Hex, Char, Str, Fixed1 };

struct Conv {
    Kind kind = Kind::Dec;
    int width = 0;
    bool zero = false;
    constexpr bool operator==(const Conv&) const = default;
};

// The format cut into literal pieces and the conversions between them:
// piece 0, conversion 0, piece 1, ..., conversion k-1, piece k.
template <std::size_t N>
struct Parsed {
    char lit[N]{};                // all pieces, "%%" already reduced to "%"
    std::size_t start[N + 1]{};   // where piece i begins in lit
    std::size_t len[N + 1]{};
    Conv conv[N]{};
    std::size_t count = 0;        // number of conversions
};

template <std::size_t N>
consteval Parsed<N> parse(const char (&s)[N])
{
    Parsed<N> p;
    std::size_t out = 0, pieceStart = 0;
    for (std::size_t i = 0; i + 1 < N; ++i) {
        if (s[i] != '%') {
            p.lit[out++] = s[i];
            continue;
        }
        ++i;
        if (s[i] == '%') {
            p.lit[out++] = '%';
            continue;
        }
        Conv c;
        if (s[i] == '.') {
            if (s[i + 1] != '1' || s[i + 2] != 'f') throw "unsupported precision";
            c.kind = Kind::Fixed1;
            i += 2;
        } else {
            if (s[i] == '0') { c.zero = true; ++i; }
            while (s[i] >= '0' && s[i] <= '9') c.width = c.width * 10 + (s[i++] - '0');
            switch (s[i]) {
            case 'd': c.kind = Kind::Dec; break;
            case 'X': c.kind = Kind::Hex; break;
            case 'c': c.kind = Kind::Char; break;
            case 's': c.kind = Kind::Str; break;
            default: throw "unsupported conversion";
            }
        }
        p.start[p.count] = pieceStart;
        p.len[p.count] = out - pieceStart;
        p.conv[p.count] = c;
        ++p.count;
        pieceStart = out;
    }
    p.start[p.count] = pieceStart;
    p.len[p.count] = out - pieceStart;
    return p;
}

template <Text F>
inline constexpr auto parsed = parse(F.s);

// Most bytes one conversion can write (a %s writes its own length).
inline constexpr std::size_t kMaxConv = 24;

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// The two hex digits of every byte value: "00", "01", ... "FF".
inline constexpr auto kHexPairs = [] {
    struct Table {
        char pair[256][2];
    } t{};
    for (int v = 0; v < 256; ++v) {
        t.pair[v][0] = kHexDigits[v >> 4];
        t.pair[v][1] = kHexDigits[v & 15];
    }
    return t;
}();

inline char* hex(char* p, std::uint32_t v, int width, bool zero)
{
    char tmp[8];
    int n = 0;
    do {
        tmp[n++] = kHexDigits[v & 15];
        v >>= 4;
    } while (v);
    for (int i = n; i < width; ++i) *p++ = zero ? '0' : ' ';
    while (n) *p++ = tmp[--n];
    return p;
}

// %02X, %04X, %06X, %08X: the digits two at a time when the value fits the
// width, which is how the report's fields are nearly always written.
template <int Width>
inline char* hexZeroPadded(char* p, std::uint32_t v)
{
    if constexpr (Width % 2 == 0 && Width >= 2 && Width <= 8) {
        constexpr std::uint64_t kLimit = std::uint64_t{1} << (4 * Width);
        if (v < kLimit) {
            for (int i = Width / 2 - 1; i >= 0; --i) {
                std::memcpy(p + 2 * i, kHexPairs.pair[v & 0xFF], 2);
                v >>= 8;
            }
            return p + Width;
        }
    }
    return hex(p, v, Width, true);
}

// The two decimal digits of 0 to 99: "00", "01", ... "99".
inline constexpr auto kDecimalPairs = [] {
    struct Table {
        char pair[100][2];
    } t{};
    for (int v = 0; v < 100; ++v) {
        t.pair[v][0] = static_cast<char>('0' + v / 10);
        t.pair[v][1] = static_cast<char>('0' + v % 10);
    }
    return t;
}();

// An unsigned number in decimal, two digits at a time from the end.
[[gnu::always_inline]] inline char* decimal(char* p, std::uint32_t v)
{
    if (v < 10) {
        *p = static_cast<char>('0' + v);
        return p + 1;
    }
    // Digits from the bit width: log10(2) is about 1233 / 4096.
    constexpr std::uint32_t kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};
    const int t = (std::bit_width(v) * 1233) >> 12;
    const int digits = t + 1 - (v < kPowers[t]);
    char* end = p + digits;
    char* q = end;
    while (v >= 100) {
        q -= 2;
        std::memcpy(q, kDecimalPairs.pair[v % 100], 2);
        v /= 100;
    }
    if (v >= 10) {
        std::memcpy(q - 2, kDecimalPairs.pair[v], 2);
    } else {
        q[-1] = static_cast<char>('0' + v);
    }
    return end;
}

[[gnu::always_inline]] inline char* dec(char* p, std::int32_t v)
{
    if (v < 0) {
        *p++ = '-';
        return decimal(p, 0u - static_cast<std::uint32_t>(v));
    }
    return decimal(p, static_cast<std::uint32_t>(v));
}

// v with one digit after the point, rounded to the nearest (an exact tie to
// the even digit), as printf's "%.1f" writes it in the C locale. Worked out
// from the double's own bits in integers, so that every build writes the
// same text whether or not its library converts floating point.
inline char* fixed1(char* p, double v)
{
    if (std::signbit(v)) {
        *p++ = '-';
        v = -v;
    }
    if (!(v < 1e18)) {
        // Infinity, NaN and the very large: the C library's text, with its
        // decimal point, whatever the locale names it, as a point.
        // (A number too long for a conversion's room is left out.)
        char text[400];
        const int n = std::snprintf(text, sizeof text, "%.1f", v);
        if (n <= 0 || n + 2 > static_cast<int>(kMaxConv)) return p;
        int digits = 0;
        while (digits < n && text[digits] >= '0' && text[digits] <= '9') ++digits;
        if (digits == 0 || digits == n) {
            std::memcpy(p, text, static_cast<std::size_t>(n));
            return p + n;
        }
        std::memcpy(p, text, static_cast<std::size_t>(digits));
        p[digits] = '.';
        p[digits + 1] = text[n - 1];
        return p + digits + 2;
    }
    // v = m x 2^e exactly, m below 2^53.
    int e = 0;
    const double f = std::frexp(v, &e);
    const auto m = static_cast<std::uint64_t>(std::ldexp(f, 53));
    e -= 53;
    std::uint64_t tenths = 0;
    if (e >= 0) {
        tenths = (m << e) * 10; // v below 10^18: no overflow
    } else if (-e < 64) {
        const std::uint64_t scaled = m * 10; // below 2^57
        const int shift = -e;
        tenths = scaled >> shift;
        const std::uint64_t rest = scaled - (tenths << shift);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (tenths & 1))) ++tenths;
    } // else: below 2^-10, rounds to 0.0
    p = std::to_chars(p, p + kMaxConv, tenths / 10).ptr;
    *p++ = '.';
    *p++ = static_cast<char>('0' + tenths % 10);
    return p;
}

template <Conv C, class A>
[[gnu::always_inline]] inline char* convert(char* p, const A& a)
{
    if constexpr (C.kind == Kind::Dec) {
        if constexpr (sizeof(A) > 4)
            return std::to_chars(p, p + kMaxConv, static_cast<std::int64_t>(a)).ptr;
        else
            return dec(p, static_cast<std::int32_t>(a));
    } else if constexpr (C.kind == Kind::Hex) {
        if constexpr (C.zero)
            return hexZeroPadded<C.width>(p, static_cast<std::uint32_t>(a));
        else
            return hex(p, static_cast<std::uint32_t>(a), C.width, C.zero);
    } else if constexpr (C.kind == Kind::Char) {
        *p = static_cast<char>(a);
        return p + 1;
    } else {
        static_assert(C.kind == Kind::Fixed1);
        return fixed1(p, static_cast<double>(a));
    }
}

template <class A>
inline std::size_t extra(const A&) { return 0; }
inline std::size_t extra(std::string_view s) { return s.size(); }

template <Text F, std::size_t I>
inline char* piece(char* p)
{
    constexpr const auto& P = parsed<F>;
    std::memcpy(p, P.lit + P.start[I], P.len[I]);
    return p + P.len[I];
}

template <Text F, std::size_t I, class A>
inline char* arg(char* p, const A& a)
{
    constexpr Conv C = parsed<F>.conv[I];
    if constexpr (C.kind == Kind::Str) {
        std::string_view s(a);
        std::memcpy(p, s.data(), s.size());
        return p + s.size();
    } else {
        return convert<C>(p, a);
    }
}

// The most bytes that F writes with these arguments.
template <Text F, class... A>
inline std::size_t bound(const A&... args)
{
    return F.size + sizeof...(A) * kMaxConv + (std::size_t{0} + ... + extra(args));
}

// Writes F with its arguments at p, which has room for bound<F>(args...)
// bytes; returns the end of what it wrote.
template <Text F, class... A>
inline char* write(char* p, const A&... args)
{
    constexpr const auto& P = parsed<F>;
    static_assert(P.count == sizeof...(A), "argument count does not match the format");
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((p = arg<F, I>(piece<F, I>(p), args)), ...);
    }(std::index_sequence_for<A...>{});
    return piece<F, P.count>(p);
}

} // namespace fmt

// Writes one formatted piece of the report:
//   put<"     BUF=0x%02X\t-> Buffer %d%%\n">(out, buf, buf * 100 / 7);
template <fmt::Text F, class... A>
inline void put(Out& out, const A&... args)
{
    out.advance(fmt::write<F>(out.room(fmt::bound<F>(args...)), args...));
}

} // namespace vornlog
