// Gathering the picture of the motion: the merged tool path and the
// bucketed lower panels, fed from the one place that decides which
// segments the controller stored.
#include "picture.h"

#include <algorithm>

#include "output/progress.h"
#include "protocol/instructions.h"
#include "protocol/instructions.h"

namespace vornlog {

namespace motion {

void PlanPath::add(std::int32_t dx, std::int32_t dy, int pwm)
{
    if (dx == 0 && dy == 0) return;
    // Steps are at most 2^30 in size, so these products fit exactly.
    const std::int64_t cross = std::int64_t{dirX_} * dy - std::int64_t{dirY_} * dx;
    const std::int64_t dot = std::int64_t{dirX_} * dx + std::int64_t{dirY_} * dy;
    dirX_ = dx;
    dirY_ = dy;
    Vertex& last = vertices_.back();
    if (vertices_.size() > 1 && cross == 0 && dot > 0 && pwm == last.pwm) {
        last.x += dx;
        last.y += dy;
        return;
    }
    vertices_.push_back(Vertex{last.x + dx, last.y + dy, pwm});
}

namespace {

Envelope::Bucket merged(const Envelope::Bucket& a, const Envelope::Bucket& b)
{
    if (!a.used) return b;
    if (!b.used) return a;
    Envelope::Bucket m = a;
    m.xLast = b.xLast;
    m.last = b.last;
    m.min = std::min(a.min, b.min);
    m.max = std::max(a.max, b.max);
    return m;
}

} // namespace

void Envelope::add(std::int64_t x, std::int64_t value)
{
    if (x < 0) x = 0;
    while (x / width_ >= static_cast<std::int64_t>(kBuckets)) {
        const std::size_t n = buckets_.size(), half = (n + 1) / 2;
        for (std::size_t i = 0; i < half; ++i)
            buckets_[i] = 2 * i + 1 < n ? merged(buckets_[2 * i], buckets_[2 * i + 1]) : buckets_[2 * i];
        buckets_.resize(half);
        width_ *= 2;
    }
    const auto at = static_cast<std::size_t>(x / width_);
    if (at >= buckets_.size()) buckets_.resize(at + 1);
    Bucket& b = buckets_[at];
    if (!b.used) {
        b = Bucket{true, x, x, value, value, value, value};
    } else {
        b.xLast = x;
        b.last = value;
        b.min = std::min(b.min, value);
        b.max = std::max(b.max, value);
    }
    min_ = any_ ? std::min(min_, value) : value;
    max_ = any_ ? std::max(max_, value) : value;
    any_ = true;
    lastX_ = x;
}

MotionPicture::MotionPicture() { s3_.add(0, 0); }

void MotionPicture::add(DataEvent event, const StoredSegment& stored)
{
    const int percent = bufferPercent(stored.buf);
    switch (event) {
    case DataEvent::Stored: {
        ++rows_;
        const Segment& s = stored.segment;
        if (s.endOfData()) {
            ends_.add(rows_, 0);
        } else {
            ++segments_;
            if (s.hasPwm()) pwm_ = s.pwm;
            path_.add(s.steps[0], s.steps[1], pwm_);
            for (int n = 0; n < 3; ++n) {
                position_[n] += s.steps[n];
                low_[n] = std::min(low_[n], position_[n]);
                high_[n] = std::max(high_[n], position_[n]);
            }
        }
        s3_.add(rows_, position_[2]);
        buffer_.add(rows_, percent);
        break;
    }
    case DataEvent::BufferFull:
        // The refused segment is the one that would have been the next row.
        refusals_.add(rows_ + 1, 0);
        buffer_.add(rows_ + 1, percent);
        break;
    case DataEvent::StoredUnknown:
    case DataEvent::NotUsbMode:
    case DataEvent::OtherStatus:
        buffer_.add(rows_ + 1, percent);
        break;
    case DataEvent::None:
    case DataEvent::Sent:
        break;
    }
}

std::string xmlText(std::string_view text)
{
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    out += kReplacement;
                else
                    out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // A multi-byte sequence: its length, the least code point it may
        // carry (shorter forms are invalid), then its continuation bytes.
        std::size_t length = 0;
        std::uint32_t cp = 0;
        std::uint32_t least = 0;
        if ((c & 0xE0) == 0xC0) {
            length = 2, cp = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, cp = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, cp = c & 0x07, least = 0x10000;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3F);
        }
        // Surrogates, code points beyond Unicode and the two non-characters
        // U+FFFE and U+FFFF are not allowed in XML either.
        valid = valid && cp >= least && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE &&
                cp != 0xFFFF;
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += kReplacement;
            ++i;
        }
    }
    return out;
}

} // namespace motion

void writePicture(MessageSource& in, Out& dest, Progress& progress, std::string_view captureName)
{
    // Only the Data messages and replies are decoded, into their values.
    motion::SegmentSink data;
    motion::StoredSegments segments;
    motion::StoredSegment stored;
    motion::MotionPicture picture;
    CaptureRecord record;
    while (in.next(record)) {
        progress.count();
        if (!record.isMessage || record.shortLine || instructionCode(record.field) != motion::kDataCode) continue;
        if (ValueSink* values = in.valuesFor(record))
            motion::decodeData(record.direction, record.field, data, *values);
        else
            motion::decodeData(record.direction, record.field, data);
        const motion::DataEvent event = segments.feed(record.direction, data.message(), stored);
        if (event != motion::DataEvent::None) picture.add(event, stored);
    }
    picture.write(dest, captureName);
}

} // namespace vornlog
