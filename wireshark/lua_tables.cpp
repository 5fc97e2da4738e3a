// Writes the Wireshark dissector qmr5v.lua: the decoder's own tables as Lua
// (every instruction, its fields in each direction with their names, widths,
// meanings, code texts and bit texts), then the message layouts that read
// them.
//
//   qmr5v_lua_tables LAYOUTS OUTPUT
//
// A text fixed in the decoder's tables is thus fixed in the dissector at the
// next build.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "protocol/instructions.h"
#include "protocol/emit.h"
#include "protocol/errors.h"
#include "protocol/instructions.h"
#include "protocol/lines.h"
#include "protocol/instructions.h"

namespace {

using namespace vornlog;

// A text of the decoder as a Lua string, without the line end that
// completes the report's line.
std::string quoted(std::string_view text)
{
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    std::string s = "\"";
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += c;
        } else if (u < 0x20 || u > 0x7E) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03u", u);
            s += escape;
        } else {
            s += c;
        }
    }
    return s + "\"";
}

std::string quotedOrFalse(const TableText& text) { return text ? quoted(text.view()) : "false"; }

// "S%d" numbered n: "S3".
std::string numberedName(std::string_view name, int n)
{
    std::size_t at = name.find("%d");
    if (at == std::string_view::npos) return std::string(name);
    return std::string(name.substr(0, at)) + std::to_string(n) + std::string(name.substr(at + 2));
}

void writeField(std::ostream& out, const Field& f, int n)
{
    out << "    {name = " << quoted(numberedName(f.name, n)) << ", width = " << f.width;
    if (f.kind == FieldKind::Text) out << ", text = true";
    if (!f.meaning.empty()) out << ", meaning = " << quoted(f.meaning);
    if (!f.codes.empty()) {
        out << ",\n     codes = {";
        for (const CodeText& c : f.codes) {
            char code[16];
            std::snprintf(code, sizeof code, "[0x%02X] = ", c.code);
            out << code << quotedOrFalse(c.text) << ", ";
        }
        out << "}";
    }
    if (f.unknown)
        out << ", unknown = " << quoted(std::string_view(f.unknown))
            << ", unknown_kind = " << quoted(errorKindOf(f.unknown).name);
    if (f.hasQuantity()) {
        out << ", quantity = " << f.quantity + 1;
        if (!f.unit.empty()) out << ", unit = " << quoted(f.unit);
    }
    if (!f.bits.empty()) {
        out << ",\n     bits = {";
        for (const BitText& b : f.bits) out << "{" << b.bit << ", " << quotedOrFalse(b.set) << ", " << quotedOrFalse(b.clear) << "}, ";
        out << "}";
    }
    out << "},\n";
}

void writeFields(std::ostream& out, const char* direction, FieldList fields)
{
    out << "  " << direction << " = {\n";
    for (const Field* f : fields)
        if (f->numbered())
            for (int n = f->first; n <= f->last; ++n) writeField(out, *f, n);
        else
            writeField(out, *f, 0);
    out << "  },\n";
}

template <fmt::Text T>
void say(std::ostream& out, const char* name)
{
    out << "  " << name << " = " << quoted(detail::trimmedForm<T>.view()) << ",\n";
}

void writeTables(std::ostream& out)
{
    out << "-- Written by the build from the decoder's tables: do not edit; the\n"
           "-- message layouts follow.\n"
           "local G = {instructions = {}}\n\n";
    for (const Instruction& i : kInstructions) {
        if (!i.decoded()) continue;
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", i.code);
        out << "G.instructions[" << code << "] = {\n  name = " << quoted(i.name) << ",\n";
        writeFields(out, "pc", i.fields(Direction::Pc));
        if (!i.decoded(Direction::Controller))
            out << "  controller = false,\n";
        else
            writeFields(out, "controller", i.fields(Direction::Controller));
        out << "}\n";
    }
    // The texts that the decoders write beside the fields' own, without the
    // report's layout around them: the error of a message whose code no
    // instruction has, and those the layouts choose.
    out << "\nG.say = {\n";
    say<kUnknownInstruction>(out, "unknown_instruction");
    say<control::kNoParameters>(out, "no_parameters");
    say<table::kEmptyTableName>(out, "empty_name");
    say<table::kOutputAxisNotUsed>(out, "axis_not_used");
    say<table::kOutputAxisInvalid>(out, "axis_invalid");
    say<table::kOutputAxis>(out, "axis");
    say<table::kInvalidSlope>(out, "invalid_slope");
    say<table::kInvalidTableNumber>(out, "invalid_table_number");
    say<control::kInvalidLcdPos>(out, "invalid_position");
    say<control::kInvalidLcdLength>(out, "invalid_length");
    say<control::kInvalidLcdCharacter>(out, "invalid_character");
    say<control::kNoResetSequence>(out, "no_reset_sequence");
    out << "}\n\n";
    // The kinds of error, by their text without the report's layout (a
    // form with its values as conversions).
    out << "G.kinds = {\n";
    for (const ErrorKindName& kind : kErrorKinds)
        out << "  [" << quoted(detail::bareForm(kind.form)) << "] = {name = " << quoted(kind.name)
            << ", meaning = " << quoted(kind.meaning) << "},\n";
    out << "}\n\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: qmr5v_lua_tables LAYOUTS OUTPUT\n";
        return 2;
    }
    std::ifstream layouts(argv[1], std::ios::binary);
    std::ostringstream all;
    writeTables(all);
    all << layouts.rdbuf();
    if (!layouts) {
        std::cerr << "qmr5v_lua_tables: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out << all.str();
    out.close();
    if (!out) {
        std::cerr << "qmr5v_lua_tables: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
