#include "compare_page.h"

#include <cstdio>
#include <string>

#include "json_lines.h"

namespace vornlog {

namespace {

constexpr std::string_view kEmptyData = R"(<script type="application/json" id="comparison"></script>)";
constexpr std::string_view kDataStart = R"(<script type="application/json" id="comparison">)";

// Seconds with `digits` decimals (3 to 9), or null.
void putSeconds(std::string& text, bool has, std::int64_t ns, int digits)
{
    if (!has) {
        text += "null";
        return;
    }
    char buffer[64];
    const int d = digits < 3 ? 3 : digits > 9 ? 9 : digits;
    const int n = std::snprintf(buffer, sizeof buffer, "%.*f", d, static_cast<double>(ns) / 1e9);
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
}

// JSON text whose "<", ">" and "&" cannot be read as markup.
class SafeJson {
public:
    explicit SafeJson(Out& out) : out_(out) {}

    void write(std::string_view text)
    {
        std::size_t from = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c != '<' && c != '>' && c != '&') continue;
            out_.write(text.substr(from, i - from));
            out_.write(c == '<' ? "\\u003c" : c == '>' ? "\\u003e" : "\\u0026");
            from = i + 1;
        }
        out_.write(text.substr(from));
    }

private:
    Out& out_;
};

void putRun(SafeJson& json, const ComparedRun& run)
{
    const compare::RunProfile& p = run.profile;
    const compare::Figures& f = p.figures();
    const int digits = f.digits;
    std::string name;
    {
        Out quoted(&name);
        putJsonText(quoted, run.name);
        quoted.flush();
    }
    std::string text = "{\"name\":\"" + name + "\",\"format\":\"" + std::string(run.format) +
                       "\",\"timed\":" + (f.timed ? "true" : "false") + ",\"stills\":[";
    bool first = true;
    for (const compare::StandStill& s : p.standStills()) {
        text += first ? "[" : ",[";
        first = false;
        text += std::to_string(s.segment) + ",";
        putSeconds(text, s.timed, s.dry, digits);
        text += ",";
        putSeconds(text, s.timed, s.stood, digits);
        text += ",\"" + std::string(findings::causeName(s.cause)) + "\"]";
    }
    text += "],\"stops\":[";
    first = true;
    for (const compare::Stop& s : p.stops()) {
        text += first ? "[" : ",[";
        first = false;
        text += std::to_string(s.segment) + ",";
        putSeconds(text, s.timed, s.at, digits);
        text += ",\"" + std::string(findings::causeName(s.cause)) + "\"]";
    }
    text += "],\"segments\":[";
    json.write(text);
    text.clear();
    const std::vector<compare::SegmentShown>& shown = p.shown();
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const compare::SegmentShown& s = shown[k];
        if (k) text += ',';
        text += std::to_string(s.number) + ',';
        const std::optional<std::int64_t> at = p.arrival(k + 1);
        putSeconds(text, at.has_value(), at.value_or(0), digits);
        text += ',' + std::to_string(s.cmd) + ',' + std::to_string(s.nbr);
        for (std::int32_t steps : s.steps) text += ',' + std::to_string(steps);
        if (text.size() > 1 << 16) {
            json.write(text);
            text.clear();
        }
    }
    json.write(text + "]}");
}

} // namespace

bool isComparePage(std::string_view page)
{
    const std::size_t at = page.find(kEmptyData);
    return at != std::string_view::npos && page.find(kEmptyData, at + 1) == std::string_view::npos;
}

void writeComparePage(std::string_view page, const compare::Comparison& c, const ComparedRun& before,
                      const ComparedRun& after, Out& out)
{
    const std::size_t at = page.find(kEmptyData);
    if (at == std::string_view::npos) return;
    out.write(page.substr(0, at + kDataStart.size()));
    SafeJson json(out);
    // The JSON Lines as -j writes them, one array element each.
    std::string lines;
    {
        Out collect(&lines);
        writeComparisonLines(c, before, after, collect);
        collect.flush();
    }
    json.write("{\"lines\":[");
    std::size_t from = 0;
    bool first = true;
    while (from < lines.size()) {
        std::size_t end = lines.find('\n', from);
        if (end == std::string::npos) end = lines.size();
        if (end > from) {
            if (!first) json.write(",");
            first = false;
            json.write(std::string_view(lines).substr(from, end - from));
        }
        from = end + 1;
    }
    json.write("],\"runs\":[");
    putRun(json, before);
    json.write(",");
    putRun(json, after);
    json.write("],\"aOfB\":[");
    std::string text;
    for (std::size_t j = 0; j < c.aOfB.size(); ++j) {
        if (j) text += ',';
        text += std::to_string(c.aOfB[j]);
        if (text.size() > 1 << 16) {
            json.write(text);
            text.clear();
        }
    }
    json.write(text + "]}");
    out.write(page.substr(at + kDataStart.size()));
}

} // namespace vornlog
