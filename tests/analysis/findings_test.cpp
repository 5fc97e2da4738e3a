// The findings engine on captures made by a small simulation of the
// controller's segment buffer: one capture for each kind and cause, and a
// clean job with many "buffer full" refusals that must give none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/findings.h"
#include "analysis/segments.h"
#include "capture/capture.h"
#include "capture/source.h"
#include "capture_builder.h"
#include "protocol/decode.h"

using vornlog::findings::Cause;
using vornlog::findings::Finding;
using vornlog::findings::Kind;

namespace {

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
void feedAll(vornlog::findings::Engine& engine, const std::string& capture)
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

std::vector<Finding> findingsOf(const std::string& capture, bool live = false)
{
    std::vector<Finding> found;
    vornlog::findings::Engine engine(true, live, [&](const Finding& f) { found.push_back(f); });
    feedAll(engine, capture);
    return found;
}

std::vector<std::pair<Kind, Cause>> kindsOf(const std::vector<Finding>& found)
{
    std::vector<std::pair<Kind, Cause>> kinds;
    for (const Finding& f : found) kinds.emplace_back(f.kind, f.cause);
    return kinds;
}

std::string texts(const std::vector<Finding>& found)
{
    std::string all;
    for (const Finding& f : found) all += f.text + "\n";
    return all;
}

// A job under way, the buffer full: ready for what a test does to it.
Wire jobUnderWay(bool timed = true)
{
    Wire w(timed);
    w.exchange({0x42, 0x00}, {0x42, 0xFF});
    w.stream(7, 500);
    w.execute();
    w.stream(60, 500);
    return w;
}

} // namespace

TEST(Findings, CleanJobWithManyBufferFullRefusalsHasNone)
{
    Wire w = jobUnderWay();
    w.stream(200, 500);
    w.finishJob();
    EXPECT_GT(w.refusals(), 100);
    const auto found = findingsOf(w.text());
    EXPECT_TRUE(found.empty()) << texts(found);
}

TEST(Findings, UnderrunCauses)
{
    struct Case {
        const char* what;
        Cause cause;
        void (*stall)(Wire&);
    };
    const Case cases[] = {
        {"the PC program falls silent", Cause::HostGap, [](Wire& w) { w.pass(200); }},
        {"the PC program waits long after a refusal", Cause::Refusals,
         [](Wire& w) {
             while (w.data(500, 1)) w.pass(1);
             w.pass(200);
         }},
        {"the controller answers slowly", Cause::SlowReplies,
         [](Wire& w) {
             w.pass(6);
             w.data(500, 1, false, 200);
         }},
        {"the segments are shorter than a round trip", Cause::ShortSegments,
         [](Wire& w) { w.stream(30, 100, 2, 3); }},
    };
    for (const Case& c : cases) {
        Wire w = jobUnderWay();
        c.stall(w);
        w.stream(40, 500);
        w.finishJob();
        const auto found = findingsOf(w.text());
        if (std::getenv("DUMP_CAPTURE")) std::fputs(w.text().c_str(), stderr);
        std::size_t underruns = 0;
        for (const Finding& f : found) {
            if (f.kind != Kind::Underrun) continue;
            ++underruns;
            EXPECT_EQ(f.cause, c.cause) << c.what << "\n" << texts(found);
            EXPECT_FALSE(f.ongoing);
            EXPECT_LT(f.first, f.last);
            EXPECT_LE(f.start, f.end);
        }
        EXPECT_EQ(underruns, 1u) << c.what << "\n" << texts(found);
    }
}

TEST(Findings, UnderrunsLessThanHalfASecondApartMakeOneAndNoTimesNoCause)
{
    Wire w = jobUnderWay();
    for (int k = 0; k < 3; ++k) {
        w.pass(100);
        w.stream(10, 500);
    }
    // Apart by more than 0.5 s of motion from the three before.
    w.stream(150, 500);
    w.pass(800);
    w.stream(10, 500);
    w.finishJob();
    const auto found = findingsOf(w.text());
    ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::Underrun, Cause::HostGap},
                                                                   {Kind::Underrun, Cause::HostGap}}))
        << texts(found);
    EXPECT_EQ(found[0].count, 3u);
    EXPECT_EQ(found[1].count, 1u);
    EXPECT_EQ(found[0].id, 1u);
    EXPECT_EQ(found[1].id, 2u);

    Wire untimed = jobUnderWay(false);
    untimed.pass(200);
    untimed.stream(20, 500);
    untimed.finishJob();
    const auto unknown = findingsOf(untimed.text());
    ASSERT_EQ(kindsOf(unknown), (std::vector<std::pair<Kind, Cause>>{{Kind::Underrun, Cause::Unknown}}))
        << texts(unknown);
    EXPECT_FALSE(unknown[0].timed);
}

TEST(Findings, StopsByTheirBitWithThePositionReached)
{
    const std::pair<unsigned, Cause> bits[] = {{4, Cause::LimitSwitch}, {5, Cause::Sensor}, {6, Cause::Button}};
    for (const auto& [bit, cause] : bits) {
        Wire w = jobUnderWay();
        w.pass(3);
        w.trip(bit);
        w.information();
        w.information();
        w.clearStop();
        w.information();
        const auto found = findingsOf(w.text());
        ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::Stop, cause}})) << texts(found);
        const Finding& f = found[0];
        EXPECT_EQ(f.last, f.first + 4); // until the block that shows the bit cleared
        ASSERT_TRUE(f.hasPosition);
        // 67 segments of 1 step stored; the last block before the stop
        // held 7 waiting and one under way, 300 of 500 pulses done; 3 ms
        // later, as the block that shows the stop tells, that one was done
        // and 100 pulses of the next.
        EXPECT_EQ(f.position[0] + f.storedUnreached[0], 67);
        EXPECT_EQ(f.position[0], 67 - 7);
    }

    Wire w = jobUnderWay();
    w.stop();
    w.information();
    const auto found = findingsOf(w.text());
    ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::Stop, Cause::Command}})) << texts(found);
    EXPECT_TRUE(found[0].ongoing);
}

// A block after a buffer reset that still claims the segments from before
// it (BUF 7 with 2 stored since) must not take the estimate back past where
// the reset left the tool: nothing ran, so nothing was reached.
TEST(Findings, PositionAfterAResetIsBoundedByWhatWasStoredSince)
{
    Wire w;
    w.exchange({0x42, 0x00}, {0x42, 0xFF});
    w.stream(5, 500);
    w.information();
    w.exchange({0x42, 0x00}, {0x42, 0xFF}); // the PC resets; the simulated buffer keeps its 5
    w.stream(2, 500);
    w.information();
    vornlog::findings::Engine engine(true, false, [](const Finding&) {});
    feedAll(engine, w.text());
    const auto position = engine.position();
    ASSERT_TRUE(position.known);
    EXPECT_EQ(position.stored[0], 7);
    EXPECT_EQ(position.reached[0], 0);
}

TEST(Findings, UnansweredRefusedAndChangedMessages)
{
    Wire w;
    w.exchange({0x4D, 0x02}, {});              // no reply
    w.exchange({0x5A, 0x55, 0xAA, 0x00}, {}); // a Reset is never answered
    w.exchange({0x54, 0x04, 0x01}, {0x54, 0x00, 0x01});
    w.exchange({0x42, 0x81}, {0x42, 0x00});
    w.dataReply(0x00);
    w.dataReply(0x02);
    for (int k = 0; k < 8; ++k) w.data(500, 1);
    w.data(500, 2); // another segment than the one refused
    w.pass(600);
    w.exchange({0x47, 0x02}, {}); // the capture's last PC message
    const auto found = findingsOf(w.text());
    EXPECT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{
                                  {Kind::NoReply, Cause::Timeout},
                                  {Kind::Refused, Cause::TableWriteFailed},
                                  {Kind::Refused, Cause::CommandRefused},
                                  {Kind::Refused, Cause::NotUsbMode},
                                  {Kind::Refused, Cause::UnknownStatus},
                                  {Kind::ResendDiffers, Cause::SegmentChanged},
                              }))
        << texts(found);
}

// Episodes of one kind and cause less than 0.5 s apart make one finding;
// findings are numbered in the order they are reported, complete.
TEST(Findings, BurstsOfOneKindAndCauseMakeOneFindingNumberedAsReported)
{
    Wire w;
    for (int k = 0; k < 3; ++k) {
        w.exchange({0x4D, 0x02}, {}); // unanswered, 0.1 s apart
        w.pass(100);
    }
    w.exchange({0x4D, 0x02}, {0x4D, 0x01, 0x00});
    w.pass(700);
    w.exchange({0x4D, 0x02}, {});
    // A limit switch twice, 0.2 s apart; then a stop by command that no
    // Stop message asked for.
    for (int k = 0; k < 2; ++k) {
        w.trip(4);
        w.information();
        w.clearStop();
        w.information();
        w.pass(200);
    }
    w.pass(500);
    w.trip(2);
    w.information();
    w.clearStop();
    w.information();
    const auto found = findingsOf(w.text());
    ASSERT_EQ(kindsOf(found), (std::vector<std::pair<Kind, Cause>>{{Kind::NoReply, Cause::Timeout},
                                                                 {Kind::NoReply, Cause::Timeout},
                                                                 {Kind::Stop, Cause::LimitSwitch},
                                                                 {Kind::Stop, Cause::Command}}))
        << texts(found);
    std::vector<std::uint64_t> counts, ids;
    for (const Finding& f : found) {
        counts.push_back(f.count);
        ids.push_back(f.id);
    }
    EXPECT_EQ(counts, (std::vector<std::uint64_t>{3, 1, 2, 1})) << texts(found);
    EXPECT_EQ(ids, (std::vector<std::uint64_t>{1, 2, 3, 4}));
    EXPECT_NE(found[3].text.find("no Stop message was seen"), std::string::npos) << found[3].text;
    EXPECT_EQ(found[3].text.find("after the Stop message"), std::string::npos) << found[3].text;
}

// Lines whose dates go back: no duration, negative or other, is told.
TEST(Findings, AClockThatGoesBackGivesNoDuration)
{
    const std::string pad = "\t........................................\n";
    const std::string capture = "1\tOUT\t2026-11-30 10:00:01.000\t2\t4D 02" + pad +
                                "2\tOUT\t2026-11-30 10:00:00.000\t2\t4D 02" + pad +
                                "3\tIN\t2026-11-30 10:00:00.001\t3\t4D 01 00" + pad;
    const auto found = findingsOf(capture);
    ASSERT_EQ(found.size(), 1u) << texts(found);
    EXPECT_TRUE(found[0].clockWentBack);
    EXPECT_EQ(found[0].text.find("later"), std::string::npos) << found[0].text;
    EXPECT_NE(found[0].text.find("clock went back"), std::string::npos) << found[0].text;
}

TEST(Findings, SlowRepliesGroupAndLiveStopsShowWhileOpen)
{
    Wire w = jobUnderWay();
    for (int k = 0; k < 10; ++k) w.exchange({0x4D, 0x02}, {0x4D, 0x01, 0x00}, 1);
    for (int k = 0; k < 3; ++k) w.exchange({0x4D, 0x02}, {0x4D, 0x01, 0x00}, 120);
    w.trip(4);
    for (int k = 0; k < 30; ++k) {
        w.pass(50);
        w.information();
    }
    w.clearStop();
    w.information();
    const auto found = findingsOf(w.text(), true);
    std::vector<std::pair<Kind, Cause>> kinds = kindsOf(found);
    ASSERT_EQ(kinds, (std::vector<std::pair<Kind, Cause>>{{Kind::SlowReply, Cause::ControllerDelay},
                                                         {Kind::Stop, Cause::LimitSwitch},
                                                         {Kind::Stop, Cause::LimitSwitch}}))
        << texts(found);
    EXPECT_EQ(found[0].count, 3u);
    EXPECT_TRUE(found[1].ongoing);
    EXPECT_FALSE(found[2].ongoing);
    EXPECT_EQ(found[1].id, found[2].id);
    EXPECT_GE(found[1].end - found[1].start, 1'000'000'000);
}

// The Data text kept to tell a segment sent again: copied in pieces, so
// every length around the pieces' edges must keep exactly its bytes and
// tell a text that differs in its last byte.
TEST(Findings, DataTextKeepsEveryLengthExactly)
{
    std::string line;
    for (int k = 0; k < 300; ++k) line += static_cast<char>('a' + k % 26);
    for (std::size_t n : {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 255, 256, 257, 300}) {
        vornlog::motion::DataText kept;
        kept.keep(std::string_view(line).substr(0, n));
        EXPECT_EQ(kept.size, n);
        const std::size_t stored = std::min<std::size_t>(n, vornlog::motion::DataText::kKept);
        EXPECT_EQ(std::string_view(kept.text.data(), stored), std::string_view(line).substr(0, stored)) << n;
        if (!n || n > vornlog::motion::DataText::kKept) continue;
        std::string other = line.substr(0, n);
        other.back() = '#';
        vornlog::motion::DataText changed;
        changed.keep(other);
        EXPECT_FALSE(kept == changed) << n;
    }
}
