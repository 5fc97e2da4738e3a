// Drawing the picture of the motion as a plain SVG 1.1 document: no
// script, no reference outside the file, generic font families, numbers
// written without any locale.
//
// Layout (in the units of the viewBox, 1000 wide):
//   the title and the extent of the axes on top;
//   the plan view (S1 to the right, S2 upward, one scale for both) on the
//   left, its legend on the right;
//   below, sharing one horizontal axis of segment number (the row of the
//   steps CSV): S3's position, then the buffer fill with a mark at each
//   "buffer full, data not stored" reply and at each end of data.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "picture.h"

namespace vornlog::motion {

namespace {

constexpr int kWidth = 1000;
constexpr int kHeight = 1020;

// The plan view's frame.
constexpr double kPlanLeft = 80, kPlanTop = 70, kPlanWidth = 640, kPlanHeight = 520;
// The legend, right of the plan view.
constexpr double kLegendLeft = 750;
// The two lower panels share their left edge and width.
constexpr double kPanelLeft = 80, kPanelWidth = 880;
constexpr double kS3Top = 680, kBufferTop = 850, kPanelHeight = 120;

constexpr std::string_view kFrame = "#444444";
constexpr std::string_view kTravel = "#8c8c8c";
constexpr std::string_view kS3Line = "#2a8a2a";
constexpr std::string_view kBufferLine = "#1f6fb4";
constexpr std::string_view kRefusal = "#e00000";

// Work segments are coloured by their PWM percentage (PWM x 100 / 255), in
// ten bands of ten percent: 1-10 % is band 0, 91-100 % band 9.
constexpr int kBands = 10;
constexpr std::string_view kBandColour[kBands] = {"#0d0887", "#41049d", "#6a00a8", "#8f0da4", "#b12a90",
                                                  "#cc4778", "#e16462", "#f2844b", "#fca636", "#e8c000"};

// The colour class of a line: -1 for travel (PWM 0), else its band.
int colourClass(int pwm)
{
    if (pwm <= 0) return -1;
    const int percent = pwm * 100 / 255;
    return std::clamp((percent - 1) / 10, 0, kBands - 1);
}

// A round step for axis ticks: 1, 2 or 5 times a power of ten, so that
// about `count` ticks cover `span`.
std::int64_t tickStep(double span, int count)
{
    const double raw = std::max(span / count, 1.0);
    double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * power;
        if (step >= raw) break;
    }
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::llround(step)));
}

// The first multiple of `step` at or above `value`.
std::int64_t firstTick(double value, std::int64_t step)
{
    return static_cast<std::int64_t>(std::ceil(value / static_cast<double>(step))) * step;
}

void text(Out& out, double x, double y, std::string_view anchor, int size, std::string_view content)
{
    put<"<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\" font-size=\"%d\">%s</text>\n">(out, x, y, anchor, size,
                                                                                     content);
}

void numberText(Out& out, double x, double y, std::string_view anchor, std::int64_t value)
{
    put<"<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\" font-size=\"11\">%d</text>\n">(out, x, y, anchor, value);
}

void line(Out& out, double x1, double y1, double x2, double y2, std::string_view colour)
{
    put<"<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n">(out, x1, y1, x2, y2, colour);
}

void frame(Out& out, double x, double y, double w, double h)
{
    put<"<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"%s\"/>\n">(out, x, y, w, h,
                                                                                                    kFrame);
}

void startMark(Out& out, double x, double y)
{
    put<"<circle cx=\"%.1f\" cy=\"%.1f\" r=\"6\" fill=\"#00b050\" stroke=\"#000000\"/>\n">(out, x, y);
}

void endMark(Out& out, double x, double y)
{
    put<"<rect x=\"%.1f\" y=\"%.1f\" width=\"11\" height=\"11\" fill=\"#000000\"/>\n">(out, x - 5.5, y - 5.5);
}

void refusalMark(Out& out, double x, double top)
{
    put<"<path d=\"M%.1f %.1fl-5 -8h10z\" fill=\"%s\"/>\n">(out, x, top - 1, kRefusal);
}

// Writes a whole number of a path's data, with the separator it needs: a
// minus sign separates by itself.
void pathNumber(Out& out, std::int64_t value, bool first)
{
    if (value < 0 || first)
        put<"%d">(out, value);
    else
        put<" %d">(out, value);
}

// The plan view. Its lines are drawn in tenths of a unit, whole numbers
// relative to the point before, each colour class in one path: travel
// first, then the bands of work from the lowest PWM up, so that work lies
// over travel and a higher PWM over a lower one.
class PlanView {
public:
    PlanView(const PlanPath& path, const std::int64_t* low, const std::int64_t* high)
        : path_(path), lowX_(low[0]), highY_(high[1])
    {
        const double extX = static_cast<double>(high[0] - low[0]);
        const double extY = static_cast<double>(high[1] - low[1]);
        scale_ = 0.94 * std::min(kPlanWidth / std::max(extX, 1.0), kPlanHeight / std::max(extY, 1.0));
        left_ = kPlanLeft + (kPlanWidth - extX * scale_) / 2;
        top_ = kPlanTop + (kPlanHeight - extY * scale_) / 2;
    }

    // Where a position in steps lands in the picture.
    double px(std::int64_t x) const { return left_ + static_cast<double>(local(x - lowX_)) / 10; }
    double py(std::int64_t y) const { return top_ + static_cast<double>(local(highY_ - y)) / 10; }
    // The position in steps at a point of the picture.
    double stepsX(double px) const { return static_cast<double>(lowX_) + (px - left_) / scale_; }
    double stepsY(double py) const { return static_cast<double>(highY_) - (py - top_) / scale_; }

    void writeLines(Out& out) const
    {
        put<"<g transform=\"translate(%.1f %.1f) scale(0.1)\" fill=\"none\" stroke-linejoin=\"round\" "
            "stroke-linecap=\"round\">\n">(out, left_, top_);
        for (int c = -1; c < kBands; ++c) writeClass(out, c);
        put<"</g>\n">(out);
    }

private:
    std::int64_t local(std::int64_t steps) const
    {
        return std::llround(static_cast<double>(steps) * scale_ * 10);
    }

    void writeClass(Out& out, int colour) const
    {
        bool open = false;    // a path element has been started
        bool drawing = false; // the line before was of this class
        std::int64_t lastX = 0, lastY = 0;
        const PlanPath::Vertex* before = nullptr;
        for (const PlanPath::Vertex& v : path_.vertices()) {
            const PlanPath::Vertex* from = before;
            before = &v;
            if (!from || colourClass(v.pwm) != colour) {
                drawing = false;
                continue;
            }
            const std::int64_t x = local(v.x - lowX_), y = local(highY_ - v.y);
            if (!drawing) {
                if (!open) {
                    if (colour < 0)
                        put<"<path stroke=\"%s\" stroke-width=\"12\" stroke-dasharray=\"60 40\" d=\"">(out, kTravel);
                    else
                        put<"<path stroke=\"%s\" stroke-width=\"22\" d=\"">(out, kBandColour[colour]);
                    open = true;
                }
                lastX = local(from->x - lowX_);
                lastY = local(highY_ - from->y);
                put<"M">(out);
                pathNumber(out, lastX, true);
                pathNumber(out, lastY, false);
                put<"l">(out);
                pathNumber(out, x - lastX, true);
                pathNumber(out, y - lastY, false);
                drawing = true;
            } else if (x != lastX || y != lastY) {
                pathNumber(out, x - lastX, false);
                pathNumber(out, y - lastY, false);
            }
            lastX = x;
            lastY = y;
        }
        if (open) put<"\"/>\n">(out);
    }

    const PlanPath& path_;
    std::int64_t lowX_;
    std::int64_t highY_;
    double scale_ = 1;
    double left_ = 0;
    double top_ = 0;
};

void writePlanAxes(Out& out, const PlanView& view)
{
    frame(out, kPlanLeft, kPlanTop, kPlanWidth, kPlanHeight);
    const double bottom = kPlanTop + kPlanHeight;
    const double a = view.stepsX(kPlanLeft), b = view.stepsX(kPlanLeft + kPlanWidth);
    const std::int64_t stepX = tickStep(b - a, 6);
    for (std::int64_t t = firstTick(a, stepX); static_cast<double>(t) <= b; t += stepX) {
        const double x = view.px(t);
        line(out, x, bottom, x, bottom + 5, kFrame);
        numberText(out, x, bottom + 18, "middle", t);
    }
    const double lowY = view.stepsY(bottom), highY = view.stepsY(kPlanTop);
    const std::int64_t stepY = tickStep(highY - lowY, 6);
    for (std::int64_t t = firstTick(lowY, stepY); static_cast<double>(t) <= highY; t += stepY) {
        const double y = view.py(t);
        line(out, kPlanLeft - 5, y, kPlanLeft, y, kFrame);
        numberText(out, kPlanLeft - 8, y + 4, "end", t);
    }
    text(out, kPlanLeft + kPlanWidth / 2, bottom + 38, "middle", 13, "S1 (steps)");
    put<"<text x=\"0\" y=\"0\" transform=\"translate(14 %.1f) rotate(-90)\" text-anchor=\"middle\" "
        "font-size=\"13\">S2 (steps)</text>\n">(out, kPlanTop + kPlanHeight / 2);
}

void writeLegend(Out& out)
{
    double y = kPlanTop + 10;
    text(out, kLegendLeft, y, "start", 13, "Work: PWM %");
    for (int band = kBands - 1; band >= 0; --band) {
        y += 20;
        put<"<rect x=\"%.1f\" y=\"%.1f\" width=\"30\" height=\"14\" fill=\"%s\"/>\n">(out, kLegendLeft, y - 11,
                                                                                  kBandColour[band]);
        put<"<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"start\" font-size=\"12\">%d-%d %%</text>\n">(
            out, kLegendLeft + 38, y, band * 10 + 1, band * 10 + 10);
    }
    y += 32;
    put<"<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"1.2\" "
        "stroke-dasharray=\"6 4\"/>\n">(out, kLegendLeft, y - 4, kLegendLeft + 30, y - 4, kTravel);
    text(out, kLegendLeft + 38, y, "start", 12, "Travel: PWM 0");
    y += 26;
    startMark(out, kLegendLeft + 15, y - 4);
    text(out, kLegendLeft + 38, y, "start", 12, "Start");
    y += 24;
    endMark(out, kLegendLeft + 15, y - 4);
    text(out, kLegendLeft + 38, y, "start", 12, "End");
    y += 34;
    text(out, kLegendLeft, y, "start", 11, "A segment whose Data message");
    text(out, kLegendLeft, y + 15, "start", 11, "carries no PWM keeps the PWM");
    text(out, kLegendLeft, y + 30, "start", 11, "last given (0 before any).");
}

// The lower panels' shared horizontal axis.
class SegmentAxis {
public:
    explicit SegmentAxis(std::int64_t last) : last_(std::max<std::int64_t>(last, 1)) {}
    double px(std::int64_t x) const
    {
        return kPanelLeft + static_cast<double>(x) / static_cast<double>(last_) * kPanelWidth;
    }
    double px(double x) const { return kPanelLeft + x / static_cast<double>(last_) * kPanelWidth; }
    std::int64_t last() const { return last_; }

private:
    std::int64_t last_;
};

// A vertical scale of a lower panel from `low` (bottom) to `high` (top).
struct PanelScale {
    double top;
    std::int64_t low;
    std::int64_t high;
    double py(std::int64_t v) const
    {
        return top + static_cast<double>(high - v) / static_cast<double>(high - low) * kPanelHeight;
    }
};

void writePanelFrame(Out& out, const SegmentAxis& axis, const PanelScale& scale, std::string_view title,
                     bool numbered)
{
    frame(out, kPanelLeft, scale.top, kPanelWidth, kPanelHeight);
    text(out, kPanelLeft, scale.top - 12, "start", 13, title);
    const std::int64_t stepY = tickStep(static_cast<double>(scale.high - scale.low), 3);
    for (std::int64_t t = firstTick(static_cast<double>(scale.low), stepY); t <= scale.high; t += stepY) {
        const double y = scale.py(t);
        line(out, kPanelLeft - 5, y, kPanelLeft, y, kFrame);
        numberText(out, kPanelLeft - 8, y + 4, "end", t);
    }
    const double bottom = scale.top + kPanelHeight;
    const std::int64_t stepX = tickStep(static_cast<double>(axis.last()), 10);
    for (std::int64_t t = 0; t <= axis.last(); t += stepX) {
        const double x = axis.px(t);
        line(out, x, bottom, x, bottom + 5, kFrame);
        if (numbered) numberText(out, x, bottom + 18, "middle", t);
    }
}

// A series as a line through its buckets: each bucket's first value, its
// least and greatest value halfway, and its last value. While a bucket
// holds one segment number that is every value there is.
void writeSeries(Out& out, const Envelope& series, const SegmentAxis& axis, const PanelScale& scale,
                 std::string_view colour)
{
    if (series.empty()) return;
    put<"<path fill=\"none\" stroke=\"%s\" stroke-width=\"1.5\" stroke-linejoin=\"round\" d=\"">(out, colour);
    char command = 'M';
    double lastX = -1, lastY = -1;
    auto point = [&](double x, std::int64_t v) {
        const double px = axis.px(x), py = scale.py(v);
        if (command == 'L' && px == lastX && py == lastY) return;
        if (command == 'M')
            put<"M%.1f %.1f">(out, px, py);
        else
            put<"L%.1f %.1f">(out, px, py);
        command = 'L';
        lastX = px;
        lastY = py;
    };
    for (const Envelope::Bucket& b : series.buckets()) {
        if (!b.used) continue;
        const double middle = (static_cast<double>(b.xFirst) + static_cast<double>(b.xLast)) / 2;
        point(static_cast<double>(b.xFirst), b.first);
        if (b.first <= b.last) {
            point(middle, b.min);
            point(middle, b.max);
        } else {
            point(middle, b.max);
            point(middle, b.min);
        }
        point(static_cast<double>(b.xLast), b.last);
    }
    put<"\"/>\n">(out);
}

// The title: the capture's name, the number of segments stored and the
// extent of the axes.
void writeTitle(Out& out, std::string_view name, std::int64_t segments, const std::int64_t* low,
                const std::int64_t* high)
{
    const std::string safe = xmlText(name);
    put<"<text x=\"%d\" y=\"28\" text-anchor=\"middle\" font-size=\"18\" font-weight=\"bold\">%s: ">(out, kWidth / 2,
                                                                                                   safe);
    if (segments == 1)
        put<"1 segment stored</text>\n">(out);
    else
        put<"%d segments stored</text>\n">(out, segments);
    put<"<text x=\"%d\" y=\"50\" text-anchor=\"middle\" font-size=\"13\">S1 from %d to %d steps, S2 from %d to %d "
        "steps, S3 from %d to %d steps</text>\n">(out, kWidth / 2, low[0], high[0], low[1], high[1], low[2], high[2]);
}

} // namespace

void MotionPicture::write(Out& out, std::string_view captureName) const
{
    put<"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n">(out);
    put<"<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"%d\" height=\"%d\" "
        "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\">\n">(out, kWidth, kHeight, kWidth, kHeight);
    put<"<title>%s</title>\n">(out, xmlText(captureName));
    put<"<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" fill=\"#ffffff\"/>\n">(out, kWidth, kHeight);
    writeTitle(out, captureName, segments_, low_, high_);

    // The plan view.
    const PlanView plan(path_, low_, high_);
    writePlanAxes(out, plan);
    if (segments_ == 0) {
        text(out, kPlanLeft + kPlanWidth / 2, kPlanTop + kPlanHeight / 2, "middle", 16,
             "No segment stored in this capture");
    } else {
        if (path_.vertices().size() == 1)
            text(out, kPlanLeft + kPlanWidth / 2, kPlanTop + kPlanHeight / 3, "middle", 16,
                 "Neither S1 nor S2 moves");
        plan.writeLines(out);
        const PlanPath::Vertex& end = path_.vertices().back();
        startMark(out, plan.px(0), plan.py(0));
        endMark(out, plan.px(end.x), plan.py(end.y));
    }
    writeLegend(out);

    // The lower panels.
    const SegmentAxis axis(std::max({rows_, buffer_.lastX(), refusals_.lastX()}));
    const PanelScale s3{kS3Top, std::min<std::int64_t>(0, low_[2]), std::max<std::int64_t>(low_[2] + 1, high_[2])};
    writePanelFrame(out, axis, s3, "S3 position (steps)", false);
    writeSeries(out, s3_, axis, s3, kS3Line);

    const PanelScale buffer{kBufferTop, 0, std::max<std::int64_t>(100, buffer_.max())};
    writePanelFrame(out, axis, buffer, "Buffer fill (%)", true);
    for (const Envelope::Bucket& b : ends_.buckets())
        if (b.used) {
            const double x = axis.px(b.xFirst);
            line(out, x, kBufferTop, x, kBufferTop + kPanelHeight, "#000000");
        }
    writeSeries(out, buffer_, axis, buffer, kBufferLine);
    for (const Envelope::Bucket& b : refusals_.buckets())
        if (b.used) refusalMark(out, axis.px(b.xFirst), kBufferTop);
    // What the marks of the buffer panel mean.
    const double key = kPanelLeft + 220;
    refusalMark(out, key, kBufferTop - 11);
    text(out, key + 10, kBufferTop - 12, "start", 12, "Buffer full, data not stored");
    line(out, key + 200, kBufferTop - 22, key + 200, kBufferTop - 12, "#000000");
    text(out, key + 208, kBufferTop - 12, "start", 12, "End of data");
    text(out, kPanelLeft + kPanelWidth / 2, kBufferTop + kPanelHeight + 40, "middle", 13,
         "Segment number (row of the steps CSV)");
    put<"</svg>\n">(out);
}

} // namespace vornlog::motion
