#include "json_lines.h"

#include <array>
#include <climits>
#include <cstring>
#include <string>

#include "events.h"
#include "instructions.h"
#include "progress.h"
#include "report.h"

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

// The digits of ns / 10^(9 - digits) after the point.
void putFraction(Out& out, std::int64_t fraction, int digits)
{
    if (digits <= 0) return;
    char text[10];
    text[0] = '.';
    for (int i = 9; i > digits; --i) fraction /= 10;
    for (int i = digits; i >= 1; --i) {
        text[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    out.write(text, static_cast<std::size_t>(digits) + 1);
}

class JsonLines final : public MessageEvents {
public:
    explicit JsonLines(Out& out) : out_(out), sink_(*this) {}

    void message(const CaptureRecord& record)
    {
        put<"{\"number\":%d,\"from\":\"%s\"">(out_, static_cast<long long>(record.number),
                                              std::string_view(record.direction == Direction::Pc ? "PC" : "QMR5V"));
        putTimes(record);
        if (record.hasDevice) {
            const int bus = record.device.bus, address = record.device.address;
            put<",\"device\":\"%d.%d\"">(out_, bus, address);
        }
        putBytes(record.field);
        fields_ = 0;
        bitsOpen_ = false;
        errorCount_ = 0;
        decodeMessage(record.direction, record.field, sink_);
        closeField();
        put<"],\"errors\":[">(out_);
        if (errorCount_) {
            errorOut_.flush();
            out_.write(errors_);
            errors_.clear();
        }
        put<"]}\n">(out_);
    }

    void instruction(std::uint8_t code, const Instruction* instruction) override
    {
        put<",\"code\":%d,\"instruction\":">(out_, code);
        if (instruction) {
            put<"\"%s\"">(out_, instruction->name);
        } else {
            put<"null">(out_);
        }
        put<",\"fields\":[">(out_);
    }

    void field(const FieldEvent& field) override
    {
        closeField();
        if (fields_++) put<",">(out_);
        put<"{\"name\":\"">(out_);
        putJsonText(out_, field.name);
        put<"\"">(out_);
        if (field.hasValue) put<",\"raw\":%d">(out_, static_cast<long long>(field.value));
        if (!field.text.empty()) {
            put<",\"text\":\"">(out_);
            putJsonText(out_, field.text);
            put<"\"">(out_);
        }
    }

    void bit(int bit, int value, std::string_view text) override
    {
        if (fields_ == 0) return; // a bit row always follows its field
        if (bitsOpen_) {
            put<",">(out_);
        } else {
            put<",\"bits\":[">(out_);
            bitsOpen_ = true;
        }
        put<"{\"bit\":%d,\"value\":%d,\"text\":\"">(out_, bit, value);
        putJsonText(out_, text);
        put<"\"}">(out_);
    }

    void error(std::string_view text) override
    {
        // Kept aside: the errors come after the fields in the object.
        if (errorCount_++) put<",">(errorOut_);
        put<"\"">(errorOut_);
        putJsonText(errorOut_, text);
        put<"\"">(errorOut_);
    }

private:
    void closeField()
    {
        if (fields_ == 0) return;
        if (bitsOpen_) put<"]">(out_);
        bitsOpen_ = false;
        put<"}">(out_);
    }

    void putTimes(const CaptureRecord& record)
    {
        const bool dated = record.hasTime && (record.timeForm == TimeForm::DateClock ||
                                              record.timeForm == TimeForm::Packet);
        put<",\"time\":">(out_);
        if (dated)
            putDate(record.timeNs, record.timeDigits);
        else
            put<"null">(out_);

        put<",\"t\":">(out_);
        if (!record.hasTime) {
            put<"null">(out_);
            return;
        }
        if (!started_) {
            started_ = true;
            startNs_ = record.timeNs;
            startDigits_ = record.timeDigits;
        }
        // Exact in 128 bits, whatever times a damaged capture holds.
        __int128 t = static_cast<__int128>(record.timeNs) - startNs_;
        if (t < 0) {
            put<"-">(out_);
            t = -t;
        }
        put<"%d">(out_, static_cast<long long>(t / kSecond));
        putFraction(out_, static_cast<std::int64_t>(t % kSecond), std::max(record.timeDigits, startDigits_));
    }

    // RFC 3339 in UTC; null for a year that it cannot write (before 0 or
    // after 9999).
    void putDate(std::int64_t ns, int digits)
    {
        std::int64_t seconds = ns / kSecond;
        std::int64_t fraction = ns % kSecond;
        if (fraction < 0) {
            fraction += kSecond;
            --seconds;
        }
        std::int64_t days = seconds / 86400;
        std::int64_t inDay = seconds % 86400;
        if (inDay < 0) {
            inDay += 86400;
            --days;
        }
        const CivilDate date = civilFromDays(days);
        if (date.year < 0 || date.year > 9999) {
            put<"null">(out_);
            return;
        }
        const int hour = static_cast<int>(inDay / 3600), minute = static_cast<int>(inDay / 60 % 60),
                  second = static_cast<int>(inDay % 60);
        put<"\"">(out_);
        putDecimal(static_cast<int>(date.year), 4);
        put<"-">(out_);
        putDecimal(static_cast<int>(date.month), 2);
        put<"-">(out_);
        putDecimal(static_cast<int>(date.day), 2);
        put<"T">(out_);
        putDecimal(hour, 2);
        put<":">(out_);
        putDecimal(minute, 2);
        put<":">(out_);
        putDecimal(second, 2);
        putFraction(out_, fraction, digits);
        put<"Z\"">(out_);
    }

    void putDecimal(int v, int width)
    {
        char text[4];
        for (int i = width - 1; i >= 0; --i) {
            text[i] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        out_.write(text, static_cast<std::size_t>(width));
    }

    // The message's bytes as the decoder reads them, in upper-case hex: one
    // for every pair the field begins, up to its last character that is
    // not a space or a line end.
    void putBytes(std::string_view field)
    {
        while (!field.empty() && (field.back() == ' ' || field.back() == '\n' || field.back() == '\r'))
            field.remove_suffix(1);
        const std::size_t count = (field.size() + 2) / 3;
        put<",\"bytes\":\"">(out_);
        const Bytes bytes(field);
        char* p = out_.room(2 * count);
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(p, fmt::kHexPairs.pair[bytes.at(i)], 2);
            p += 2;
        }
        out_.advance(p);
        put<"\"">(out_);
    }

    Out& out_;
    EventSink sink_;
    std::size_t fields_ = 0;
    bool bitsOpen_ = false;
    std::size_t errorCount_ = 0;
    std::string errors_;
    Out errorOut_{&errors_, false, 4096};
    bool started_ = false;
    std::int64_t startNs_ = 0;
    int startDigits_ = 0;
};

} // namespace

void putJsonText(Out& out, std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t plain = 0; // the start of the run of plain bytes not written yet
    for (std::size_t i = 0; i < n;) {
        const std::uint8_t kind = kByteClass[s[i]];
        if (kind == kPlain) {
            ++i;
            continue;
        }
        int length = 1;
        if (kind == kMultiByte) {
            length = utf8Length(s + i, n - i);
            if (length > 0) {
                i += static_cast<std::size_t>(length);
                continue;
            }
            length = -length;
        }
        out.write(text.data() + plain, i - plain);
        const unsigned char c = s[i];
        if (kind == kMultiByte)
            out.write(kReplacement, 3);
        else if (c == '"')
            out.write("\\\"", 2);
        else if (c == '\\')
            out.write("\\\\", 2);
        else
            put<"\\u00%s">(out, std::string_view(fmt::kHexPairs.pair[c], 2));
        i += static_cast<std::size_t>(length);
        plain = i;
    }
    out.write(text.data() + plain, n - plain);
}

void writeJsonLines(MessageSource& in, Out& dest, Progress& progress)
{
    in.readTimes();
    JsonLines json(dest);
    CaptureRecord record;
    while (!dest.failed() && in.next(record)) {
        progress.count();
        if (record.isMessage) json.message(record);
    }
}

} // namespace vornlog
