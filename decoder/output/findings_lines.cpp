#include "findings_lines.h"

#include <cstdio>
#include <string>
#include <utility>

#include "finding_pages.h"
#include "json_lines.h"
#include "output/progress.h"
#include "protocol/decode.h"

namespace vornlog {

namespace {

void putSeconds(Out& out, std::int64_t ns, int digits)
{
    char text[48];
    const int n = std::snprintf(text, sizeof text, "%.*f", digits < 0 ? 0 : digits > 9 ? 9 : digits,
                                static_cast<double>(ns) / 1e9);
    put<"%s">(out, std::string_view(text, static_cast<std::size_t>(n)));
}

void putSteps(Out& out, const findings::Steps& steps)
{
    for (std::size_t axis = 0; axis < steps.size(); ++axis)
        put<"%s\"S%d\":%s">(out, std::string_view(axis ? "," : "{"), static_cast<int>(axis + 1),
                            std::to_string(steps[axis]));
    put<"}">(out);
}

} // namespace

void putFindingJson(Out& out, const findings::Finding& f)
{
    put<"{\"id\":%s,\"kind\":\"%s\",\"cause\":\"%s\",\"start\":">(out, std::to_string(f.id), findings::kindName(f.kind),
                                                                   findings::causeName(f.cause));
    if (f.timed) putSeconds(out, f.start, f.digits);
    else put<"null">(out);
    // No end where the clock went back: a reader would take end - start
    // for its duration.
    put<",\"end\":">(out);
    if (f.timed && !f.clockWentBack) putSeconds(out, f.end, f.digits);
    else put<"null">(out);
    put<",\"ongoing\":%s,\"first\":%s,\"last\":%s,\"count\":%s,\"text\":\"">(
        out, std::string_view(f.ongoing ? "true" : "false"), std::to_string(f.first), std::to_string(f.last),
        std::to_string(f.count));
    putJsonText(out, f.text);
    put<"\"">(out);
    // An underrun's stand-still; null on the other kinds.
    const bool underrun = f.kind == findings::Kind::Underrun;
    put<",\"stood\":">(out);
    if (underrun && f.hasStood) putSeconds(out, f.stood, f.digits);
    else put<"null">(out);
    put<",\"dry_after\":%s,\"dry_before\":%s">(
        out, underrun && f.dryAfter ? std::to_string(f.dryAfter) : std::string("null"),
        underrun && f.dryBefore ? std::to_string(f.dryBefore) : std::string("null"));
    if (f.hasPosition) {
        put<",\"position\":">(out);
        putSteps(out, f.position);
        put<",\"stored_unreached\":">(out);
        putSteps(out, f.storedUnreached);
    }
    put<"}\n">(out);
}

FindingsTap::FindingsTap(MessageSource& in, Out* dest, std::function<Clock::time_point()> clock,
                         FindingPages* pages, bool readerDecodes)
    : ForwardingSource(in), dest_(dest), pages_(pages), clock_(std::move(clock)), readerDecodes_(readerDecodes),
      // The pages kept need to know of a long finding while it lasts, as a
      // live run tells it.
      engine_(in.format() == "text dump", clock_ != nullptr || pages_ != nullptr, [this](const findings::Finding& f) {
          kinds_ |= 1u << static_cast<unsigned>(f.kind);
          if (dest_) putFindingJson(*dest_, f);
          if (pages_) pages_->finding(f, engine_.origin());
      })
{
    in_.readTimes();
}

bool FindingsTap::next(CaptureRecord& record)
{
    settle();
    if (!in_.next(record)) {
        finish();
        return false;
    }
    if (pages_) pages_->record(record);
    if (record.isMessage || record.leftOut) {
        if (readerDecodes_) {
            given_ = record;
            waiting_ = true;
            filled_ = false;
        } else {
            decodeMessage(record.direction, record.field, message_);
            ++decodedHere_;
            engine_.feed(record, message_);
        }
        if (clock_) lastSeen_ = clock_();
    }
    return true;
}

ValueSink* FindingsTap::valuesFor(const CaptureRecord& record)
{
    if (!waiting_ || filled_ || record.number != given_.number || record.field.data() != given_.field.data())
        return nullptr;
    filled_ = true;
    return &message_;
}

void FindingsTap::settle()
{
    if (!waiting_) return;
    waiting_ = false;
    if (!filled_) {
        decodeMessage(given_.direction, given_.field, message_);
        ++decodedHere_;
    }
    engine_.feed(given_, message_);
}

void FindingsTap::idle(Clock::time_point now)
{
    settle();
    const std::optional<TimeNs> last = engine_.lastTime();
    if (!last || finished_) return;
    const auto waited = std::chrono::duration_cast<std::chrono::nanoseconds>(now - lastSeen_).count();
    engine_.idle(*last + (waited > 0 ? waited : 0));
    if (pages_) pages_->advance(*last + (waited > 0 ? waited : 0));
}

void FindingsTap::finish()
{
    if (finished_) return;
    settle();
    finished_ = true;
    engine_.finish();
    if (pages_) pages_->finish();
}

void readAll(MessageSource& in, Progress& progress)
{
    in.readTimes();
    CaptureRecord record;
    while (in.next(record)) progress.count();
}

} // namespace vornlog
