#include "json_lines.h"

#include <array>
#include <charconv>
#include <climits>
#include <cstring>
#include <string>

#include "json_sink.h"
#include "output/bit_rows.h"
#include "output/progress.h"
#include "protocol/both_sinks.h"
#include "protocol/decode.h"
#include "protocol/instructions.h"
#include "protocol/values.h"

namespace vornlog {

namespace {

// What a byte needs in a JSON string: nothing, an escape, or a look at the
// UTF-8 sequence it begins.
enum : std::uint8_t { kPlain, kEscape, kMultiByte };

constexpr auto kByteClass = [] {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 0; c < 256; ++c)
        classes[c] = c < 0x20 || c == '"' || c == '\\' ? kEscape : c >= 0x80 ? kMultiByte : kPlain;
    return classes;
}();

// The UTF-8 sequence at the start of s: its length when it is well formed
// (1 to 4 bytes); otherwise, as a negative number, the length of its
// longest start that could begin a well-formed sequence (at least 1), all
// of which one U+FFFD replaces, as Unicode recommends.
int utf8Length(const unsigned char* s, std::size_t left)
{
    const unsigned char b = s[0];
    int n = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) low = 0xA0;  // no overlong form
        if (b == 0xED) high = 0x9F; // no surrogate
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) low = 0x90;  // no overlong form
        if (b == 0xF4) high = 0x8F; // nothing above U+10FFFF
    } else {
        return -1;
    }
    for (int i = 1; i < n; ++i) {
        if (static_cast<std::size_t>(i) >= left || s[i] < low || s[i] > high) return -i;
        low = 0x80;
        high = 0xBF;
    }
    return n;
}

constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD


constexpr std::int64_t kSecond = 1'000'000'000;

constexpr std::int64_t kPowersOf10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// `value` in exactly `digits` decimal digits, zeros in front.
char* fixedDigits(char* p, std::uint64_t value, int digits)
{
    char* const end = p + digits;
    char* q = end;
    for (; digits >= 2; digits -= 2) {
        q -= 2;
        std::memcpy(q, fmt::kDecimalPairs.pair[value % 100], 2);
        value /= 100;
    }
    if (digits) q[-1] = static_cast<char>('0' + value % 10);
    return end;
}

// The decimals of a second: the first `digits` of the nanoseconds, after
// the point (nothing for none).
char* fraction(char* p, std::int64_t ns, int digits)
{
    if (digits <= 0) return p;
    *p++ = '.';
    const auto v = static_cast<std::uint64_t>(ns);
    switch (digits) { // divisions by constants: the usual precisions cost a multiplication
    case 3: return fixedDigits(p, v / 1000000, 3);
    case 6: return fixedDigits(p, v / 1000, 6);
    case 9: return fixedDigits(p, v, 9);
    default: return fixedDigits(p, v / static_cast<std::uint64_t>(kPowersOf10[9 - digits]), digits);
    }
}

template <std::size_t N>
char* copy(char* p, const char (&text)[N])
{
    std::memcpy(p, text, N - 1);
    return p + N - 1;
}

class JsonLines {
public:
    explicit JsonLines(Out& out) : out_(out), sink_(out) {}

    // A message left out (-i): its time may still be where t starts.
    void leaveOut(const CaptureRecord& record)
    {
        if (!record.hasTime || started_) return;
        started_ = true;
        startNs_ = record.timeNs;
        startDigits_ = record.timeDigits;
    }

    // `values`: where the findings below take this decoding's values, or
    // null.
    void message(const CaptureRecord& record, ValueSink* values)
    {
        // The message's bytes as the decoder reads them: one for every pair
        // the field begins, up to its last character that is not a space
        // or a line end.
        std::string_view field = record.field;
        while (!field.empty() && (field.back() == ' ' || field.back() == '\n' || field.back() == '\r'))
            field.remove_suffix(1);
        const std::size_t count = (field.size() + 2) / 3;

        char* p = out_.room(kHeadRoom + 2 * count);
        p = copy(p, "{\"number\":");
        p = record.number <= UINT32_MAX ? fmt::decimal(p, static_cast<std::uint32_t>(record.number))
                                        : std::to_chars(p, p + 20, record.number).ptr;
        p = record.direction == Direction::Pc ? copy(p, ",\"from\":\"PC\"") : copy(p, ",\"from\":\"QMR5V\"");
        p = times(p, record);
        // A message that the report passes over (a line of 40 characters or
        // fewer) says so; the key is absent otherwise.
        if (record.shortLine) p = copy(p, ",\"report\":false");
        if (record.hasDevice) {
            p = copy(p, ",\"device\":\"");
            p = fmt::decimal(p, record.device.bus);
            *p++ = '.';
            p = fmt::decimal(p, record.device.address);
            *p++ = '"';
        }
        p = copy(p, ",\"bytes\":\"");
        const auto* pairs = reinterpret_cast<const unsigned char*>(field.data());
        std::size_t i = 0;
        for (; 3 * i + 1 < field.size(); ++i, p += 2) // the pairs that lie whole in the field
            std::memcpy(p, fmt::kHexPairs.pair[detail::kPairValue[pairs[3 * i] << 8 | pairs[3 * i + 1]]], 2);
        for (const Bytes bytes(field); i < count; ++i, p += 2)
            std::memcpy(p, fmt::kHexPairs.pair[bytes.at(i)], 2);
        *p++ = '"';
        out_.advance(p);

        sink_.begin();
        decode(record, values);
        sink_.end();
    }

private:
    void decode(const CaptureRecord& record, ValueSink* values)
    {
        if (!values) {
            decodeMessage(record.direction, record.field, sink_);
            return;
        }
        BothSinks both(sink_, *values);
        decodeMessage(record.direction, record.field, both);
    }

    // What a message's keys, number, sender, times and device take at most.
    static constexpr std::size_t kHeadRoom = 240;

    char* times(char* p, const CaptureRecord& record)
    {
        p = copy(p, ",\"time\":");
        if (record.hasTime && (record.timeForm == TimeForm::DateClock || record.timeForm == TimeForm::Packet))
            p = date(p, record.timeNs, record.timeDigits);
        else
            p = copy(p, "null");

        p = copy(p, ",\"t\":");
        if (!record.hasTime) return copy(p, "null");
        if (!started_) {
            started_ = true;
            startNs_ = record.timeNs;
            startDigits_ = record.timeDigits;
        }
        const int digits = std::max(record.timeDigits, startDigits_);
        const TimeNs since = record.timeNs - startNs_;
        std::int64_t t = static_cast<std::int64_t>(since);
        if (t != since) {
            // Times further apart than 292 years.
            const unsigned __int128 size = since < 0 ? -static_cast<unsigned __int128>(since) : since;
            if (since < 0) *p++ = '-';
            p = wideDecimal(p, size / kSecond);
            return fraction(p, static_cast<std::int64_t>(size % kSecond), digits);
        }
        if (t < 0) {
            *p++ = '-';
            t = -t; // INT64_MIN cannot be: it would have overflowed above
        }
        p = std::to_chars(p, p + 20, t / kSecond).ptr;
        return fraction(p, t % kSecond, digits);
    }

    // RFC 3339 in UTC; null for a year that it cannot write (before 0 or
    // after 9999).
    char* date(char* p, TimeNs wide, int digits)
    {
        // Up to 2262 in 64 bits, as nearly every capture is; beyond, the
        // seconds are worked out wide, as far as a date can be written.
        std::int64_t ns = static_cast<std::int64_t>(wide);
        if (ns != wide) return farDate(p, wide, digits);
        std::int64_t seconds = ns / kSecond;
        std::int64_t rest = ns % kSecond;
        return date(p, seconds, rest, digits);
    }
    [[gnu::noinline]] char* farDate(char* p, TimeNs wide, int digits)
    {
        // Year 0 to year 9999, and a little more on both sides.
        constexpr TimeNs kFar = TimeNs{400000000000} * kSecond;
        if (wide > kFar || wide < -kFar) return copy(p, "null");
        return date(p, static_cast<std::int64_t>(wide / kSecond), static_cast<std::int64_t>(wide % kSecond), digits);
    }
    static char* wideDecimal(char* p, unsigned __int128 v)
    {
        char digits[40];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + static_cast<int>(v % 10));
            v /= 10;
        } while (v != 0);
        while (n != 0) *p++ = digits[--n];
        return p;
    }
    char* date(char* p, std::int64_t seconds, std::int64_t rest, int digits)
    {
        if (rest < 0) {
            rest += kSecond;
            --seconds;
        }
        std::int64_t days = seconds / 86400;
        std::int64_t inDay = seconds % 86400;
        if (inDay < 0) {
            inDay += 86400;
            --days;
        }
        if (days != day_) {
            // The date's text, made once a day.
            day_ = days;
            const CivilDate civil = civilFromDays(days);
            dayFits_ = civil.year >= 0 && civil.year <= 9999;
            if (dayFits_) {
                char* q = fixedDigits(dayText_, static_cast<std::uint64_t>(civil.year), 4);
                *q++ = '-';
                q = fixedDigits(q, civil.month, 2);
                *q++ = '-';
                q = fixedDigits(q, civil.day, 2);
                *q = 'T';
            }
        }
        if (!dayFits_) return copy(p, "null");
        *p++ = '"';
        std::memcpy(p, dayText_, sizeof dayText_);
        p += sizeof dayText_;
        p = fixedDigits(p, static_cast<std::uint64_t>(inDay / 3600), 2);
        *p++ = ':';
        p = fixedDigits(p, static_cast<std::uint64_t>(inDay / 60 % 60), 2);
        *p++ = ':';
        p = fixedDigits(p, static_cast<std::uint64_t>(inDay % 60), 2);
        p = fraction(p, rest, digits);
        return copy(p, "Z\"");
    }

    Out& out_;
    JsonSink sink_;
    bool started_ = false;
    TimeNs startNs_ = 0;
    int startDigits_ = 0;
    std::int64_t day_ = INT64_MIN;
    bool dayFits_ = false;
    char dayText_[11]{}; // "2026-11-30T"
};

} // namespace

char* writeJsonText(char* p, std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    // Eight bytes at a time while none needs a look: no byte below 0x20 or
    // above 0x7F, no quote, no backslash.
    constexpr std::uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
    auto hasZero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    while (i + 8 <= n) {
        std::uint64_t v;
        std::memcpy(&v, s + i, 8);
        if (((v | (v - kOnes * 0x20)) & kHigh) | hasZero(v ^ (kOnes * '"')) | hasZero(v ^ (kOnes * '\\'))) break;
        i += 8;
    }
    std::memcpy(p, s, i);
    p += i;
    while (i < n) {
        const unsigned char c = s[i];
        const std::uint8_t kind = kByteClass[c];
        if (kind == kPlain) {
            *p++ = static_cast<char>(c);
            ++i;
            continue;
        }
        int length = 1;
        if (kind == kMultiByte) {
            length = utf8Length(s + i, n - i);
            if (length > 0) {
                std::memcpy(p, s + i, static_cast<std::size_t>(length));
                p += length;
                i += static_cast<std::size_t>(length);
                continue;
            }
            length = -length;
            std::memcpy(p, kReplacement, 3);
            p += 3;
        } else if (c == '"' || c == '\\') {
            *p++ = '\\';
            *p++ = static_cast<char>(c);
        } else {
            std::memcpy(p, "\\u00", 4);
            std::memcpy(p + 4, fmt::kHexPairs.pair[c], 2);
            p += 6;
        }
        i += static_cast<std::size_t>(length);
    }
    return p;
}

void JsonSink::instruction(std::uint8_t code, const Instruction* instruction)
{
    char* p = out_.room(64 + (instruction ? instruction->name.size() : 0));
    p = copy(p, ",\"code\":");
    p = fmt::decimal(p, code);
    if (instruction) {
        p = copy(p, ",\"instruction\":\"");
        p = copy(p, instruction->name);
        p = copy(p, "\",\"fields\":[");
    } else {
        p = copy(p, ",\"instruction\":null,\"fields\":[");
        addError(kKindOf<kUnknownInstruction>, false, kUnknownInstruction);
    }
    out_.advance(p);
}

namespace {

// A bit row after a comma, ,{"bit":3,"value":1,"text":"Source:USB"}; the
// meanings are plain ASCII (texts.h), written as they are.
constexpr std::size_t kBitRowRoom = 96;
static_assert(8 + 2 + 9 + 1 + 9 + BitText::kMostText + 2 <= kBitRowRoom);

constexpr void writeBitRow(BitRow<kBitRowRoom>& row, int bit, int value, std::string_view meaning)
{
    row.add(",{\"bit\":");
    row.addNumber(bit);
    row.add(",\"value\":");
    row.addNumber(value);
    row.add(",\"text\":\"");
    row.add(meaning);
    row.add("\"}");
}

constexpr auto kBitRows = renderBitRows<kBitRowRoom>(writeBitRow);

} // namespace

void JsonSink::bits(std::span<const BitText> table, unsigned value)
{
    // The rows are copied whole, each after a comma; the first comma opens
    // the array.
    if (fields_ == 0) return; // a bit row always follows its field
    char* const start = out_.room(8 + table.size() * kBitRowRoom);
    char* p = start;
    if (!bitsOpen_) p = copy(p, ",\"bits\":");
    char* const first = p;
    if (char* end = kBitRows.put(p, table, value)) {
        p = end;
    } else {
        for (const BitText& entry : table) {
            const int bit = (value >> entry.bit) & 1;
            if (const TableText& meaning = entry.meaning(bit)) {
                BitRow<kBitRowRoom> row;
                writeBitRow(row, entry.bit, bit, meaning.view());
                p = copy(p, std::string_view(row.text, row.size));
            }
        }
    }
    if (p == first) {
        out_.advance(start);
        return;
    }
    if (!bitsOpen_) *first = '[';
    bitsOpen_ = true;
    out_.advance(p);
}

void JsonSink::end()
{
    char* p = out_.room(32 + errors_.size());
    if (fields_) p = closeField(p);
    p = copy(p, "],\"errors\":[");
    p = copy(p, errors_);
    out_.advance(copy(p, "]}\n"));
}

void JsonSink::addError(std::string_view kind, bool ofField, std::string_view text)
{
    if (!errors_.empty()) errors_ += ',';
    errors_ += "{\"kind\":\"";
    errors_ += kind;
    errors_ += "\",\"field\":";
    if (ofField) {
        errors_ += '"';
        errors_ += lastBefore_;
        if (lastNumber_ >= 0) {
            char number[12];
            errors_.append(number, static_cast<std::size_t>(fmt::dec(number, lastNumber_) - number));
        }
        errors_ += lastAfter_;
        errors_ += '"';
    } else {
        errors_ += "null";
    }
    errors_ += ",\"text\":\"";
    errors_ += text;
    errors_ += "\"}";
}

char* JsonSink::scratch(std::size_t n)
{
    if (scratch_.size() < n) scratch_.resize(n);
    return scratch_.data();
}

void putJsonText(Out& out, std::string_view text)
{
    out.advance(writeJsonText(out.room(kJsonTextGrowth * text.size()), text));
}

void writeJsonLine(const CaptureRecord& record, const CaptureRecord* start, Out& dest)
{
    JsonLines json(dest);
    if (start) json.leaveOut(*start);
    json.message(record, nullptr);
}

void writeJsonLines(MessageSource& in, Out& dest, Progress& progress)
{
    in.readTimes();
    JsonLines json(dest);
    CaptureRecord record;
    while (!dest.failed() && in.next(record)) {
        progress.count();
        if (record.isMessage)
            json.message(record, in.valuesFor(record));
        else if (record.leftOut)
            json.leaveOut(record);
    }
}

} // namespace vornlog
