// The picture of the motion: an SVG file that draws the tool path of the
// segments the controller stored (the rows of the steps CSV) in the plane
// of S1 and S2, coloured by PWM, and below it S3's position and the buffer
// fill against the segment number.
//
// The capture is read once. What the picture needs is gathered as the
// messages arrive and drawn at the end: the tool path with its consecutive
// segments merged where they go on in the same direction with the same
// PWM (memory grows only with that merged path), and the two lower panels
// in a fixed number of buckets (memory bounded whatever the capture).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/segments.h"
#include "capture/source.h"
#include "base/out.h"

namespace vornlog {

class Progress;

// Writes the picture of the capture read from `in`; `captureName` is the
// name shown in the title (any bytes: they are made safe for XML).
void writePicture(MessageSource& in, Out& dest, Progress& progress, std::string_view captureName);

namespace motion {

// The tool path in the S1/S2 plane, from (0, 0): each vertex ends a
// straight line drawn with the PWM it holds. A segment that goes on in the
// same direction as the line before it, with the same PWM, lengthens that
// line instead of starting a new one. A segment that moves neither S1 nor
// S2 adds nothing.
class PlanPath {
public:
    struct Vertex {
        std::int64_t x = 0;
        std::int64_t y = 0;
        int pwm = 0;
    };

    void add(std::int32_t dx, std::int32_t dy, int pwm);
    // The start, then the end of each line.
    const std::deque<Vertex>& vertices() const { return vertices_; }

private:
    // A deque: it grows without moving what it holds, so the path never
    // needs room for two copies of itself.
    std::deque<Vertex> vertices_{Vertex{}};
    // The steps of the last segment that moved S1 or S2: the next one goes
    // on in the same direction when it is a positive multiple of them.
    std::int32_t dirX_ = 0;
    std::int32_t dirY_ = 0;
};

// A series of values along the segment number x (from 0, never going
// back), kept in a fixed number of buckets. Each bucket keeps the first
// and last value with their x and the least and greatest value; when x
// outgrows the buckets, neighbours are merged two by two and each bucket
// covers twice as many segment numbers. Up to kBuckets segment numbers
// every value is kept. Buckets past the last one used are left out.
class Envelope {
public:
    static constexpr std::size_t kBuckets = 1024;

    struct Bucket {
        bool used = false;
        std::int64_t xFirst = 0;
        std::int64_t xLast = 0;
        std::int64_t first = 0;
        std::int64_t last = 0;
        std::int64_t min = 0;
        std::int64_t max = 0;
    };

    void add(std::int64_t x, std::int64_t value);
    std::span<const Bucket> buckets() const { return buckets_; }
    // How many segment numbers one bucket covers.
    std::int64_t width() const { return width_; }
    bool empty() const { return !any_; }
    std::int64_t min() const { return min_; }
    std::int64_t max() const { return max_; }
    std::int64_t lastX() const { return lastX_; }

private:
    // Grown up to the last bucket used (at most kBuckets): a short session
    // does not clear and walk the buckets it never reaches.
    std::vector<Bucket> buckets_;
    std::int64_t width_ = 1;
    bool any_ = false;
    std::int64_t min_ = 0;
    std::int64_t max_ = 0;
    std::int64_t lastX_ = 0;
};

// Everything the picture shows, gathered from the stream of Data messages
// and replies.
class MotionPicture {
public:
    MotionPicture();
    // One Data message or reply as StoredSegments classified it.
    void add(DataEvent event, const StoredSegment& stored);
    // Writes the whole SVG document.
    void write(Out& out, std::string_view captureName) const;

    // Rows of the steps CSV so far (end-of-data rows included): the segment
    // number of the lower panels.
    std::int64_t rows() const { return rows_; }
    // Stored segments that move (end-of-data rows left out).
    std::int64_t segments() const { return segments_; }
    const PlanPath& path() const { return path_; }

private:
    PlanPath path_;
    std::int64_t position_[3]{};
    std::int64_t low_[3]{};
    std::int64_t high_[3]{};
    int pwm_ = 0; // the PWM last given, 0 before any
    std::int64_t rows_ = 0;
    std::int64_t segments_ = 0;
    Envelope s3_;
    Envelope buffer_;   // percent, from every Data reply
    Envelope refusals_; // "buffer full, data not stored" replies
    Envelope ends_;     // end-of-data rows
};

// The name as it may stand in XML text or an attribute: &, <, >, " and '
// escaped, and every byte that is not valid UTF-8 or not allowed in XML
// (control characters) replaced by U+FFFD.
std::string xmlText(std::string_view text);

} // namespace motion
} // namespace vornlog
