#include "session_compare.h"

#include <cstdio>

#include "json_lines.h"

namespace vornlog {

namespace {

using compare::Comparison;
using compare::Difference;
using compare::Side;

constexpr unsigned kPercentiles[] = {50, 95, 99};
// The segments whose content differs that the text lists; the rest are
// counted.
constexpr std::size_t kChangedListed = 20;

std::string printed(const char* format, double v)
{
    char text[64];
    const int n = std::snprintf(text, sizeof text, format, v);
    return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// Seconds with the capture's decimals (3 to 9).
std::string seconds(std::int64_t ns, int digits)
{
    char text[64];
    const int d = digits < 3 ? 3 : digits > 9 ? 9 : digits;
    const int n = std::snprintf(text, sizeof text, "%.*f", d, static_cast<double>(ns) / 1e9);
    return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// A duration as a person reads it: milliseconds below a second.
std::string duration(std::int64_t ns)
{
    if (ns < 1'000'000'000) return printed("%.1f ms", static_cast<double>(ns) / 1e6);
    return printed("%.3f s", static_cast<double>(ns) / 1e9);
}

std::string_view sideName(Side s) { return s == Side::Before ? "before" : s == Side::After ? "after" : "both"; }

int digitsOf(const ComparedRun& a, const ComparedRun& b)
{
    return std::max(a.profile.figures().digits, b.profile.figures().digits);
}

// ---- text ---------------------------------------------------------------

// Two columns beside a label, the label `indent` characters in.
void row(Out& out, std::string_view label, const std::string& before, const std::string& after, std::size_t indent = 2)
{
    std::string line(indent, ' ');
    line += label;
    line.resize(std::max<std::size_t>(line.size() + 1, 36), ' ');
    line += before;
    line.resize(std::max<std::size_t>(line.size() + 1, 60), ' ');
    line += after;
    line += '\n';
    out.write(line);
}

std::string count(std::uint64_t n) { return std::to_string(n); }

std::string runLine(std::string_view label, const ComparedRun& r)
{
    const compare::Figures& f = r.profile.figures();
    return std::string(label) + r.name + " (" + std::string(r.format) + "): " + count(f.records) +
           (r.format == "text dump" ? " lines, " : " packets, ") + count(f.segments) + " segments stored\n";
}

std::string place(const std::optional<std::int64_t>& at, int digits)
{
    return at ? "at " + seconds(*at, digits) + " s" : "no such place";
}

void putLeadUp(Out& out, const Difference& d)
{
    if (!d.leadUp[0] && !d.leadUp[1]) return;
    const auto cell = [&d](int side, auto field) -> std::string {
        return d.leadUp[side] ? field(*d.leadUp[side]) : std::string("-");
    };
    const auto us = [](std::uint32_t v) { return duration(static_cast<std::int64_t>(v) * 1000); };
    out.write("     Just before:                   before                  after\n");
    const auto line = [&out](std::string_view label, const std::string& b, const std::string& a) {
        row(out, label, b, a, 7);
    };
    line("PC's longest silence", cell(0, [&](const compare::LeadUp& l) { return us(l.silenceUs); }),
         cell(1, [&](const compare::LeadUp& l) { return us(l.silenceUs); }));
    line("Longest reply", cell(0, [&](const compare::LeadUp& l) { return us(l.replyUs); }),
         cell(1, [&](const compare::LeadUp& l) { return us(l.replyUs); }));
    line("Refusals and \"buffer full\"", cell(0, [](const compare::LeadUp& l) { return count(l.refusals); }),
         cell(1, [](const compare::LeadUp& l) { return count(l.refusals); }));
}

void putMotionDifference(Out& out, std::size_t n, const Difference& d, int digits)
{
    const int mine = d.in == Side::Before ? 0 : 1;
    const std::string where = "in " + std::string(sideName(d.in)) + ", at segment " + count(d.segment);
    const std::string other = std::string(sideName(mine ? Side::Before : Side::After));
    std::string text = "  " + count(n) + ". ";
    const std::string why = "(" + std::string(findings::kindName(d.kind)) + ", " +
                            std::string(findings::causeName(d.cause)) + ")";
    if (d.kind == findings::Kind::Stop) {
        text += "Stop only " + where + " " + why + ", " + place(d.at[mine], digits) + "\n     " + other + ": " +
                (d.otherSegment ? "at segment " + count(d.otherSegment) + ", " : "") + place(d.at[1 - mine], digits) +
                ", did not stop there\n";
    } else if (d.what == Difference::What::Longer) {
        text += "Stand-still longer " + where + ": " + duration(d.stood) + " against " + duration(d.otherStood) + " " +
                why + ", " + place(d.at[mine], digits) + "\n     " + other + ": at segment " + count(d.otherSegment) + ", " +
                place(d.at[1 - mine], digits) + "\n";
    } else {
        text += "Stand-still only " + where + ": " + (d.hasStood ? duration(d.stood) : std::string("no times")) + " " +
                why + ", " + place(d.at[mine], digits) + "\n     " + other + ": " +
                (d.otherSegment ? "at segment " + count(d.otherSegment) + ", " : "") + place(d.at[1 - mine], digits) +
                ", did not stand still there\n";
    }
    out.write(text);
    putLeadUp(out, d);
}

std::string figure(const compare::Figures& f, std::int64_t ns) { return f.timed ? duration(ns) : std::string("-"); }

void putFigures(Out& out, const ComparedRun& before, const ComparedRun& after)
{
    const compare::Figures& b = before.profile.figures();
    const compare::Figures& a = after.profile.figures();
    out.write("Whole-run figures:\n");
    row(out, "", "before", "after");
    row(out, "Duration", figure(b, b.duration), figure(a, a.duration));
    const auto times = [](std::uint64_t n) { return " (" + count(n) + (n == 1 ? " time)" : " times)"); };
    row(out, "Stood still", figure(b, b.stood) + times(b.standStills), figure(a, a.stood) + times(a.standStills));
    row(out, "Segments stored", count(b.segments), count(a.segments));
    const auto histogram = [&](std::string_view name, const TimeHistogram& hb, const TimeHistogram& ha) {
        const auto cell = [](const TimeHistogram& h, unsigned p) {
            if (h.count() == 0) return std::string("-");
            return duration(p ? h.percentile(p) : h.most());
        };
        for (unsigned p : kPercentiles)
            row(out, std::string(name) + (p == 50 ? ", median" : ", " + std::to_string(p) + "th percentile"),
                cell(hb, p), cell(ha, p));
        row(out, std::string(name) + ", longest", cell(hb, 0), cell(ha, 0));
    };
    histogram("Reply delay", before.profile.replies(), after.profile.replies());
    histogram("PC silence", before.profile.silences(), after.profile.silences());
    row(out, "\"Buffer full\" replies", count(b.bufferFull), count(a.bufferFull));
    for (int k = 0; k < findings::kKinds; ++k)
        row(out, "Findings: " + std::string(findings::kKindNames[k]), count(b.kinds[k]), count(a.kinds[k]));
}

// ---- JSON ---------------------------------------------------------------

std::string number(const std::optional<std::int64_t>& ns, int digits)
{
    return ns ? seconds(*ns, digits) : std::string("null");
}

std::string segmentOrNull(std::uint64_t k) { return k ? count(k) : std::string("null"); }

std::string leadUpJson(const std::optional<compare::LeadUp>& l)
{
    if (!l) return "null";
    return "{\"silence\":" + seconds(static_cast<std::int64_t>(l->silenceUs) * 1000, 6) +
           ",\"reply\":" + seconds(static_cast<std::int64_t>(l->replyUs) * 1000, 6) +
           ",\"refusals\":" + count(l->refusals) + "}";
}

std::string_view whatName(Difference::What w)
{
    switch (w) {
    case Difference::What::Only: return "only";
    case Difference::What::Longer: return "longer";
    case Difference::What::Count: return "count";
    case Difference::What::ChangedSegment: return "changed";
    }
    return "only";
}

std::string histogramJson(const TimeHistogram& h, bool timed)
{
    if (!timed || h.count() == 0) return "null";
    std::string text = "{";
    for (unsigned p : kPercentiles) text += "\"p" + std::to_string(p) + "\":" + seconds(h.percentile(p), 6) + ",";
    return text + "\"max\":" + seconds(h.most(), 6) + "}";
}

void putRunJson(Out& out, const ComparedRun& r)
{
    const compare::Figures& f = r.profile.figures();
    out.write("{\"file\":\"");
    putJsonText(out, r.name);
    std::string text = "\",\"format\":\"" + std::string(r.format) + "\",\"records\":" + count(f.records) +
                       ",\"segments\":" + count(f.segments) +
                       ",\"duration\":" + (f.timed ? seconds(f.duration, f.digits) : std::string("null")) +
                       ",\"stood\":" + (f.timed ? seconds(f.stood, f.digits) : std::string("null")) +
                       ",\"stand_stills\":" + count(f.standStills) +
                       ",\"reply_delay\":" + histogramJson(r.profile.replies(), f.timed) +
                       ",\"pc_silence\":" + histogramJson(r.profile.silences(), f.timed) +
                       ",\"buffer_full\":" + count(f.bufferFull) + ",\"findings\":{";
    for (int k = 0; k < findings::kKinds; ++k)
        text += (k ? ",\"" : "\"") + std::string(findings::kKindNames[k]) + "\":" + count(f.kinds[k]);
    out.write(text + "}}");
}

} // namespace

void writeComparisonText(const Comparison& c, const ComparedRun& before, const ComparedRun& after, Out& out)
{
    const int digits = digitsOf(before, after);
    out.write("Comparison of two sessions\n");
    out.write(runLine("  Before: ", before));
    out.write(runLine("  After:  ", after));
    const std::string share = printed("%.1f %%", c.share * 100);
    const std::uint64_t larger = std::max(c.segments[0], c.segments[1]);
    if (!c.sameJob) {
        out.write("\nDifferent jobs: " + std::string(c.matchedAtMost ? "at most " : "") + share +
                  " of the segments aligned (" + (c.matchedAtMost ? "at most " : "") + count(c.matched) + " of " +
                  count(larger) + "); only the whole-run figures are compared.\n");
    } else {
        out.write("  Aligned by the job's segments: " + count(c.matched) + " of " + count(larger) + " (" + share +
                  ")\n\n");
        if (!c.motionDiffers) {
            out.write("No difference in the motion.\n");
        } else {
            out.write("Differences in the motion, most telling first:\n");
            std::size_t n = 0;
            for (const Difference& d : c.differences)
                if (d.kind == findings::Kind::Underrun || d.kind == findings::Kind::Stop)
                    if (d.what != Difference::What::Count && d.what != Difference::What::ChangedSegment)
                        putMotionDifference(out, ++n, d, digits);
        }
    }
    bool counted = false;
    for (const Difference& d : c.differences) {
        if (d.what != Difference::What::Count) continue;
        if (!counted) {
            out.write("\nFindings outside the motion, by their counts:\n");
            row(out, "", "before", "after");
            counted = true;
        }
        row(out, std::string(findings::kindName(d.kind)) + ", " + std::string(findings::causeName(d.cause)),
            count(d.count[0]), count(d.count[1]));
    }
    out.write("\n");
    putFigures(out, before, after);
    if (!c.sameJob) return;
    std::size_t changed = 0;
    for (const Difference& d : c.differences) {
        if (d.what != Difference::What::ChangedSegment) continue;
        if (changed == 0) out.write("\nSegments whose content differs:\n");
        if (changed++ < kChangedListed)
            out.write("  segment " + count(d.segment) + " of after, " + count(d.otherSegment) + " of before, " +
                      place(d.at[1], digits) + "\n");
    }
    if (changed > kChangedListed) out.write("  and " + count(changed - kChangedListed) + " more\n");
    if (changed == 0) out.write("\nSegments whose content differs: none\n");
}

void writeComparisonLines(const Comparison& c, const ComparedRun& before, const ComparedRun& after, Out& out)
{
    const int digits = digitsOf(before, after);
    for (const Difference& d : c.differences) {
        const bool changed = d.what == Difference::What::ChangedSegment;
        std::string text = "{\"kind\":\"";
        text += changed ? std::string_view("changed-segment") : findings::kindName(d.kind);
        text += "\",\"cause\":";
        if (changed) {
            text += "null";
        } else {
            text += '"';
            text += findings::causeName(d.cause);
            text += '"';
        }
        text += ",\"in\":\"";
        text += sideName(d.in);
        text += "\",\"segment\":" + segmentOrNull(d.segment);
        text += ",\"stood\":" + (d.hasStood ? seconds(d.stood, digits) : std::string("null"));
        text += ",\"before\":" + number(d.at[0], digits) + ",\"after\":" + number(d.at[1], digits);
        text += ",\"difference\":\"";
        text += whatName(d.what);
        text += "\",\"other_segment\":" + segmentOrNull(d.otherSegment);
        text += ",\"other_stood\":" + (d.hasOtherStood ? seconds(d.otherStood, digits) : std::string("null"));
        if (d.what == Difference::What::Count)
            text += ",\"count_before\":" + count(d.count[0]) + ",\"count_after\":" + count(d.count[1]);
        if (d.what == Difference::What::Only || d.what == Difference::What::Longer)
            text += ",\"lead_up\":{\"before\":" + leadUpJson(d.leadUp[0]) + ",\"after\":" + leadUpJson(d.leadUp[1]) +
                    "}";
        out.write(text + "}\n");
    }
    out.write("{\"kind\":\"runs\",\"aligned\":" + printed("%.4f", c.share) +
              ",\"aligned_at_most\":" + (c.matchedAtMost ? "true" : "false") +
              ",\"segments_aligned\":" + count(c.matched) + ",\"same_job\":" + (c.sameJob ? "true" : "false") +
              ",\"motion_differs\":" + (c.motionDiffers ? "true" : "false") + ",\"before\":");
    putRunJson(out, before);
    out.write(",\"after\":");
    putRunJson(out, after);
    out.write("}\n");
}

} // namespace vornlog
