// How a dump file divides into capture lines and where their data fields
// lie, written out the plain way and without the decoder's code, so that
// the fuzz checks and the end-to-end tests can hold the program to it:
// "\r\n" is folded into "\n" first; a line ends after "\n" or after 254
// characters; a line of 40 characters or fewer, or with fewer than four
// tabs, holds no message; the data field runs from after the fourth tab
// to the next tab or the end of the line's text.
#pragma once

#include <cctype>

#include <string>
#include <string_view>
#include <vector>

namespace vornlog::reference {

inline std::string foldLineEnds(std::string_view raw)
{
    std::string folded;
    folded.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i)
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) folded += raw[i];
    return folded;
}

inline std::vector<std::string> captureLines(std::string_view raw)
{
    const std::string folded = foldLineEnds(raw);
    std::vector<std::string> lines;
    std::string piece;
    for (char c : folded) {
        piece += c;
        if (c == '\n' || piece.size() == 254) {
            lines.push_back(piece);
            piece.clear();
        }
    }
    if (!piece.empty()) lines.push_back(piece);
    return lines;
}

// The data field of a capture line; false when the line holds no message.
inline bool dataField(std::string_view line, bool& pc, std::string_view& field)
{
    if (line.size() <= 40) return false;
    std::size_t at = 0;
    for (int tab = 1; tab <= 4; ++tab) {
        const std::size_t t = line.find('\t', at);
        if (t == std::string_view::npos) return false;
        if (tab == 1) pc = t + 1 < line.size() && line[t + 1] == 'O';
        at = t + 1;
    }
    field = line.substr(at);
    field = field.substr(0, field.find('\t'));
    return true;
}

// A line of 40 characters or fewer that holds a message all the same: OUT
// or IN as its second column, a hex pair at the start of its fifth. The
// report passes it over; the summary and the JSON Lines read it.
inline bool shortMessage(std::string_view line)
{
    if (line.size() > 40) return false;
    std::string_view columns[5];
    for (int c = 0; c < 5; ++c) {
        const std::size_t t = line.find('\t');
        if (t == std::string_view::npos && c < 4) return false;
        columns[c] = line.substr(0, t);
        line = t == std::string_view::npos ? std::string_view() : line.substr(t + 1);
    }
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    return (columns[1] == "OUT" || columns[1] == "IN") && columns[4].size() >= 2 && hex(columns[4][0]) &&
           hex(columns[4][1]);
}

// The echo line that the report writes for a capture line, or "" when the
// line holds no message.
inline std::string echoLine(std::string_view line)
{
    bool pc = false;
    std::string_view field;
    if (!dataField(line, pc, field)) return {};
    return (pc ? "PC     :  " : " QMR5V :  ") + std::string(field) + "\n";
}

// What the console shows while `lines` capture lines are read: every
// line's number on a terminal; on any other console every `every`th and
// the last.
inline std::string progressText(std::size_t lines, std::size_t every = 1)
{
    std::string text;
    for (std::size_t i = 1; i <= lines; ++i)
        if (i % every == 0 || i == lines) text += "\rAnalyzing line: " + std::to_string(i);
    return text;
}

} // namespace vornlog::reference
