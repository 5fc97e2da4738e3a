// Findings: why the machine stuttered or stopped, told from the wire. One
// engine, fed every message of a capture once with its decoding (the
// summary's records), hands it on to one detector per kind of finding
// (analysis/detectors/), numbers what they report and reports each finding
// through a callback when it is complete: the -e lines, the summary's
// Findings and the viewer all take them from here. Memory is fixed.
//
//   underrun        the controller's buffer ran dry while a job ran
//   stop            the controller stopped for a limit switch, a sensor, the
//                   PROG/STOP button or a Stop command
//   no-reply        a PC message got no reply before the next one
//   refused         a reply refused or failed what was asked
//   resend-differs  after "buffer full", the next Data message was not the
//                   segment refused
//   slow-reply      replies far slower than their instruction's median
//
// The rules, with the signals they read, are those of docs/findings.md.
// Medians are "so far": a live run and a run on the finished file agree.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/message_facts.h"
#include "analysis/motion_model.h"
#include "analysis/pairing.h"
#include "analysis/segments.h"
#include "analysis/time_histogram.h"
#include "capture/source.h"
#include "protocol/values.h"

namespace vornlog::findings {

enum class Kind : std::uint8_t { Underrun, Stop, NoReply, Refused, ResendDiffers, SlowReply };
inline constexpr int kKinds = 6;
inline constexpr std::string_view kKindNames[kKinds] = {"underrun", "stop",           "no-reply",
                                                        "refused",  "resend-differs", "slow-reply"};

enum class Cause : std::uint8_t {
    Refusals,         // underrun: the PC waited long after a "buffer full" reply
    HostGap,          // underrun: the PC program fell silent
    SlowReplies,      // underrun: the controller answered slowly
    ShortSegments,    // underrun: the segments ran out faster than a round trip
    Unknown,          // underrun: the capture has no times
    LimitSwitch,      // stop: STOP bit 4
    Sensor,           // stop: STOP bit 5
    Button,           // stop: STOP bit 6
    Command,          // stop: STOP bit 2
    Timeout,          // no-reply
    NotUsbMode,       // refused: a Data reply with ST 0x00
    TableWriteFailed, // refused: a Table reply with RET 0x00
    CommandRefused,   // refused: a Buffer Management reply with RET 0x00
    UnknownStatus,    // refused: a status the protocol does not name
    SegmentChanged,   // resend-differs
    ControllerDelay,  // slow-reply
};
inline constexpr int kCauses = 16;

struct CauseName {
    Kind kind;
    std::string_view name;
};
inline constexpr CauseName kCauseNames[kCauses] = {
    {Kind::Underrun, "refusals"},          {Kind::Underrun, "host-gap"},         {Kind::Underrun, "slow-replies"},
    {Kind::Underrun, "short-segments"},    {Kind::Underrun, "unknown"},          {Kind::Stop, "limit-switch"},
    {Kind::Stop, "sensor"},                {Kind::Stop, "button"},               {Kind::Stop, "command"},
    {Kind::NoReply, "timeout"},            {Kind::Refused, "not-usb-mode"},      {Kind::Refused, "table-write-failed"},
    {Kind::Refused, "command-refused"},    {Kind::Refused, "unknown-status"},    {Kind::ResendDiffers, "segment-changed"},
    {Kind::SlowReply, "controller-delay"},
};

constexpr std::string_view kindName(Kind kind) { return kKindNames[static_cast<int>(kind)]; }
constexpr std::string_view causeName(Cause cause) { return kCauseNames[static_cast<int>(cause)].name; }
// The kind named `name` ("underrun"), if any.
std::optional<Kind> kindNamed(std::string_view name);

// The refusal that a controller message is, by its decoding and what its
// Data reply did to the buffer: not in USB mode, a failed table write, a
// refused Buffer Management command, a status the protocol does not name
// (the "refused" findings' causes); none for any other message, "buffer
// full" included.
std::optional<Cause> refusalOf(const FieldValues& v, motion::DataEvent event);

// The steps of S1 to S5, signed.
using Steps = motion::Steps;

struct Finding {
    // 1, 2, ... in the order findings are first reported: complete, or,
    // live, when told as ongoing.
    std::uint64_t id = 0;
    Kind kind = Kind::Underrun;
    Cause cause = Cause::Unknown;
    // Since the capture's first message with a time, in nanoseconds; none
    // when the capture has no times. `digits`: the decimals its times have.
    bool timed = false;
    std::int64_t start = 0;
    std::int64_t end = 0;
    int digits = 0;
    // Still open where the capture ends (or, live, where it has got to).
    bool ongoing = false;
    // The numbers (lines or packets) of the first and last message of its
    // evidence.
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    // The capture's clock went back between its start and end (lines whose
    // dates differ): no duration is given, `end` is not told.
    bool clockWentBack = false;
    // The episodes it groups: one burst of its kind and cause, each less
    // than 0.5 s after the last (underruns: of its kind, whatever the cause).
    std::uint64_t count = 1;
    // One English sentence with the figures of its evidence.
    std::string text;
    // An underrun: how long the machine stood still (ns, summed over its
    // episodes; only with times), and the messages whose status blocks
    // last showed motion and first showed the buffer dry, for its first
    // episode (0: none).
    bool hasStood = false;
    std::int64_t stood = 0;
    std::uint64_t dryAfter = 0;
    std::uint64_t dryBefore = 0;
    // A stop: where the tool was, as far as the evidence tells, and the
    // steps stored that it did not reach.
    bool hasPosition = false;
    Steps position{};
    Steps storedUnreached{};
};

// Where the tool got to: every stored segment adds up to `stored`;
// `reached` leaves out what the last status block still held waiting and
// the part of the segment under way not yet done. None before the first
// status block.
struct Position {
    Steps stored{};
    bool known = false;
    Steps reached{};
};

class Engine {
public:
    using Report = std::function<void(const Finding&)>;

    // `textDump`: numbers are lines (else packets). `live`: an underrun or a
    // stop still open 1 s after it began is reported at once as ongoing, and
    // again when it is complete.
    Engine(bool textDump, bool live, Report report);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Every record of the capture, in order, with the decoding of its
    // message (for a record that holds one).
    void feed(const CaptureRecord& record, const FieldValues& message);
    // The pairing and the segment of the message fed last (a record that
    // holds one), as the engine worked them out: other analyses of the same
    // messages read them here instead of working them out again.
    const MessageFacts& facts() const;
    // Live: the capture's clock has got to `now` (a record's time) without a
    // message; what waited for time to pass is reported.
    void idle(TimeNs now);
    // The end of the capture: everything still open or waiting is reported.
    // Returns the PC message that still waited for its reply (the capture's
    // last PC message makes no finding).
    std::optional<RequestPairing::Request> finish();

    // How long the controller took to answer each message of instruction
    // `code` that got a reply, both times known; null for a code whose
    // replies decode as no instruction, or when none had a time. The
    // summary's reply times.
    const TimeHistogram* replyTimes(std::uint8_t code) const;

    // Where the tool is now.
    Position position() const;
    // What the machine did, as the engine reconstructed it.
    const motion::Model& model() const;
    motion::Model& model();
    // The capture's time of the last message with one.
    std::optional<TimeNs> lastTime() const;
    // The time of its first message with one, which a finding's start and
    // end count from.
    std::optional<TimeNs> origin() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vornlog::findings
