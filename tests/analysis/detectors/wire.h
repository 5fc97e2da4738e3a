// The controller as a small simulation of its segment buffer, writing the
// capture the wire would show, and the findings engine run on it: what the
// detectors' tests build their captures with.
#pragma once

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/findings.h"
#include "capture/capture.h"
#include "capture/source.h"
#include "capture_builder.h"
#include "protocol/decode.h"

namespace vornlog::testing::findings {

using vornlog::findings::Cause;
using vornlog::findings::Finding;
using vornlog::findings::Kind;


// The controller as the wire shows it: a buffer of 7 segments, executed at
// `rate` pulses a millisecond once "Execute" came, and the capture lines of
// the PC's messages and its replies, with their times.
class Wire {
public:
    explicit Wire(bool timed = true) : timed_(timed) {}

    // ---- what the PC program sends ----------------------------------

    // A Data message of `nbr` pulses moving S1 by `steps`; true when the
    // controller stored it. An end-of-data mark when `end`.
    bool data(std::int32_t nbr, std::int32_t steps, bool end = false, int replyMs = 1)
    {
        std::vector<std::uint8_t> m{0x44, static_cast<std::uint8_t>(end ? 0x80 : 0x1F)};
        put4(m, nbr);
        put4(m, steps * 2);
        for (int axis = 1; axis < 5; ++axis) put4(m, 0);
        line(true, m);
        const bool stored = buffer_.size() < 7;
        if (stored) buffer_.push_back({nbr, steps, end});
        // The reply tells the state when the message came.
        std::vector<std::uint8_t> reply{0x44, static_cast<std::uint8_t>(stored ? 0x01 : 0xFF)};
        status(reply);
        pass(replyMs);
        line(false, reply);
        return stored;
    }
    // A Data reply with status `st` to a segment.
    void dataReply(std::uint8_t st)
    {
        std::vector<std::uint8_t> m{0x44, 0x1F};
        put4(m, 100);
        for (int axis = 0; axis < 5; ++axis) put4(m, 0);
        line(true, m);
        pass(1);
        std::vector<std::uint8_t> reply{0x44, st};
        status(reply);
        line(false, reply);
    }
    void information()
    {
        line(true, {0x49});
        std::vector<std::uint8_t> reply{0x49, static_cast<std::uint8_t>(buffer_.size() >= 7 ? 0xFF : 0x00)};
        status(reply);
        pass(1);
        line(false, reply);
    }
    void execute()
    {
        exchange({0x42, 0x80}, {0x42, 0xFF});
        running_ = true;
    }
    // A fast Stop.
    void stop()
    {
        line(true, {0x53, 0x00});
        stop_ |= 0x06;
        running_ = false;
        pass(1);
        line(false, {0x53, static_cast<std::uint8_t>(stop_), 1, 0, 0, 0, 0, 0, 0});
    }
    void exchange(const std::vector<std::uint8_t>& pc, const std::vector<std::uint8_t>& reply, int replyMs = 1)
    {
        line(true, pc);
        pass(replyMs);
        if (!reply.empty()) line(false, reply);
    }

    // ---- what happens at the controller ---------------------------------

    // A switch stops the motion: STOP bit `bit` and "stopped".
    void trip(unsigned bit)
    {
        stop_ |= (1u << bit) | 0x02;
        running_ = false;
    }
    void clearStop() { stop_ = 0; }

    // Time passes, and the motion goes on.
    void pass(int ms)
    {
        for (int k = 0; k < ms; ++k) {
            now_ += 1000;
            if (!running_) continue;
            int budget = rate_;
            while (budget > 0) {
                if (left_ == 0) {
                    if (buffer_.empty()) {
                        inProgress_ = false;
                        stop_ |= 0x80; // the buffer ran dry
                        break;
                    }
                    const Segment s = buffer_.front();
                    buffer_.pop_front();
                    ++seg_;
                    if (s.end) {
                        running_ = inProgress_ = false;
                        stop_ |= 0x80;
                        break;
                    }
                    left_ = s.nbr;
                    inProgress_ = true;
                    stop_ &= ~0x80u;
                }
                const int take = std::min(budget, left_);
                left_ -= take;
                budget -= take;
                done_ += take;
            }
        }
    }

    // The PC program streams `count` segments of `nbr` pulses (1 step
    // each), sending again after `backoffMs` what the full buffer refused,
    // `thinkMs` after each reply.
    void stream(int count, std::int32_t nbr, int backoffMs = 2, int thinkMs = 1)
    {
        for (int i = 0; i < count; ++i) {
            while (!data(nbr, 1)) {
                ++refusals_;
                pass(backoffMs);
            }
            pass(thinkMs);
        }
    }
    // The end of the job: the end-of-data mark, then polls until it ran.
    void finishJob()
    {
        while (!data(0, 0, true)) pass(2);
        for (int k = 0; k < 100 && running_; ++k) {
            pass(5);
            information();
        }
    }

    void setRate(int pulsesPerMs) { rate_ = pulsesPerMs; }
    int refusals() const { return refusals_; }
    const std::string& text() const { return text_; }

private:
    struct Segment {
        std::int32_t nbr;
        std::int32_t steps;
        bool end;
    };

    static void put4(std::vector<std::uint8_t>& m, std::int32_t v)
    {
        for (int k = 0; k < 4; ++k) m.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * k)));
    }
    void status(std::vector<std::uint8_t>& m) const
    {
        m.push_back(static_cast<std::uint8_t>(buffer_.size()));
        for (int k = 0; k < 3; ++k) m.push_back(static_cast<std::uint8_t>(seg_ >> (8 * k)));
        m.push_back(static_cast<std::uint8_t>(0x48 | (inProgress_ ? 1 : 0)));
        m.insert(m.end(), {0x00, 0x00, 0x00, 0x04, static_cast<std::uint8_t>(stop_)});
        put4(m, left_);
    }
    void line(bool pc, const std::vector<std::uint8_t>& bytes)
    {
        std::string time;
        if (timed_) {
            char t[32];
            std::snprintf(t, sizeof t, "%.6f", static_cast<double>(now_) / 1e6);
            time = t;
        }
        const std::string field = vornlog::testing::hexPairs(bytes);
        std::string l = std::to_string(++number_) + (pc ? "\tOUT\t" : "\tIN\t") + time + "\t" +
                        std::to_string(bytes.size()) + "\t" + field;
        text_ += (l.size() < 41 && bytes.size() > 1 ? l + "\t........................................" : l) + "\n";
    }

    bool timed_;
    std::string text_;
    int number_ = 0;
    long long now_ = 0; // microseconds
    std::deque<Segment> buffer_;
    bool running_ = false;
    bool inProgress_ = false;
    int left_ = 0;
    int rate_ = 100;
    int seg_ = 0;
    unsigned stop_ = 0;
    long long done_ = 0;
    int refusals_ = 0;
};

// Feeds every message of a text dump to `engine`, then finishes it.
inline void feedAll(vornlog::findings::Engine& engine, const std::string& capture)
{
    vornlog::LineReader lines(capture);
    vornlog::TextDumpSource source(lines);
    source.readTimes();
    vornlog::CaptureRecord record;
    vornlog::ValueSink values;
    while (source.next(record)) {
        if (!record.isMessage) continue;
        vornlog::decodeMessage(record.direction, record.field, values);
        engine.feed(record, values);
    }
    engine.finish();
}

inline std::vector<Finding> findingsOf(const std::string& capture, bool live = false)
{
    std::vector<Finding> found;
    vornlog::findings::Engine engine(true, live, [&](const Finding& f) { found.push_back(f); });
    feedAll(engine, capture);
    return found;
}

inline std::vector<std::pair<Kind, Cause>> kindsOf(const std::vector<Finding>& found)
{
    std::vector<std::pair<Kind, Cause>> kinds;
    for (const Finding& f : found) kinds.emplace_back(f.kind, f.cause);
    return kinds;
}

inline std::string texts(const std::vector<Finding>& found)
{
    std::string all;
    for (const Finding& f : found) all += f.text + "\n";
    return all;
}

// A job under way, the buffer full: ready for what a test does to it.
inline Wire jobUnderWay(bool timed = true)
{
    Wire w(timed);
    w.exchange({0x42, 0x00}, {0x42, 0xFF});
    w.stream(7, 500);
    w.execute();
    w.stream(60, 500);
    return w;
}


// The findings of one kind.
inline std::vector<Finding> ofKind(const std::vector<Finding>& found, Kind kind)
{
    std::vector<Finding> kept;
    for (const Finding& f : found)
        if (f.kind == kind) kept.push_back(f);
    return kept;
}

} // namespace vornlog::testing::findings
