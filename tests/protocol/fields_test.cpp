// The decoders' findings as events (EventSink), against the instruction
// table that describes the protocol and against the JSON Lines' sink: every
// field a decoder reports is listed for its instruction and direction, and
// the events hold exactly what the JSON holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture_builder.h"
#include "output/json_lines.h"
#include "output/json_sink.h"
#include "output/report.h"
#include "protocol/decode.h"
#include "protocol/errors.h"
#include "protocol/events.h"
#include "protocol/instructions.h"

using namespace vornlog;

namespace {

// Writes the events as the JSON Lines write a message's decoded part.
class Recorder final : public MessageEvents {
public:
    explicit Recorder(Direction direction) : direction_(direction) {}

    void instruction(std::uint8_t code, const Instruction* instruction) override
    {
        code_ = code;
        text_ = ",\"code\":" + std::to_string(code) + ",\"instruction\":" +
                (instruction ? "\"" + std::string(instruction->name) + "\"" : std::string("null")) + ",\"fields\":[";
    }
    void field(const FieldEvent& f) override
    {
        const Instruction* instruction = findInstruction(code_);
        ASSERT_NE(instruction, nullptr);
        bool listed = false;
        for (const Field* known : instruction->fields(direction_)) listed |= known == f.field;
        EXPECT_TRUE(listed) << f.name << " of instruction " << int(code_) << " is not in its list of fields";
        if (f.field->numbered()) {
            EXPECT_GE(f.number, f.field->first) << f.name;
            EXPECT_LE(f.number, f.field->last) << f.name;
        }
        EXPECT_EQ(f.hasValue, f.field->hasValue()) << f.name;
        if (f.hasValue) {
            EXPECT_LT(std::uint64_t{f.value}, std::uint64_t{1} << (8 * f.field->width)) << f.name;
        }

        close();
        text_ += (fields_++ ? ",{" : "{") + std::string("\"name\":\"") + std::string(f.name) + "\"";
        text_ += ",\"raw\":" + (f.hasValue ? std::to_string(f.value) : "null");
        text_ += ",\"value\":" + (f.hasQuantity ? std::to_string(f.quantity) : "null");
        text_ += ",\"unit\":" + (f.unit.empty() ? "null" : "\"" + std::string(f.unit) + "\"");
        text_ += ",\"move\":" + (f.hasMove ? std::to_string(f.move) : "null");
        text_ += ",\"text\":" + (f.text.empty() ? "null" : "\"" + json(f.text) + "\"");
        if (f.hasQuantity) { // the number its text shows
            EXPECT_NE(f.text.find(std::to_string(f.quantity)), std::string_view::npos) << f.name << ": " << f.text;
        }
    }
    void bit(int bit, int value, std::string_view text) override
    {
        text_ += bits_++ ? "," : ",\"bits\":[";
        text_ += "{\"bit\":" + std::to_string(bit) + ",\"value\":" + std::to_string(value) + ",\"text\":\"" +
                 json(text) + "\"}";
    }
    void error(const ErrorEvent& e) override
    {
        errors_.push_back("{\"kind\":\"" + std::string(e.kind) + "\",\"field\":" +
                          (e.field.empty() ? "null" : "\"" + std::string(e.field) + "\"") + ",\"text\":\"" +
                          json(e.text) + "\"}");
    }

    std::string finish()
    {
        close();
        text_ += "],\"errors\":[";
        for (std::size_t i = 0; i < errors_.size(); ++i) text_ += (i ? "," : "") + errors_[i];
        return text_ + "]}\n";
    }

private:
    static std::string json(std::string_view text)
    {
        std::string s;
        {
            Out out(&s);
            putJsonText(out, text);
        }
        return s;
    }
    void close()
    {
        if (fields_ == 0) return;
        text_ += bits_ ? "]}" : ",\"bits\":[]}";
        bits_ = 0;
    }

    Direction direction_;
    std::uint8_t code_ = 0;
    std::string text_;
    std::size_t fields_ = 0;
    std::size_t bits_ = 0;
    std::vector<std::string> errors_;
};

} // namespace

TEST(Fields, EveryFieldDecodedIsListedForItsInstructionAndTheEventsHoldWhatTheJsonHolds)
{
    std::uint32_t state = 2463534242u; // xorshift32: the same messages every run
    auto random = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<std::uint8_t>(state);
    };
    std::size_t messages = 0, fields = 0;
    for (const Instruction& instruction : kInstructions) {
        if (!instruction.decoded()) continue;
        for (Direction direction : {Direction::Pc, Direction::Controller}) {
            // Every value of byte 1 (the sub-command, status or first value),
            // the rest at random, at every length up to past the longest layout.
            for (int first = 0; first < 256; ++first) {
                std::vector<std::uint8_t> bytes = {instruction.code, static_cast<std::uint8_t>(first)};
                const std::size_t length = 2 + (first * 7 + instruction.code) % 44;
                while (bytes.size() < length) bytes.push_back(random());
                const std::string field = vornlog::testing::hexPairs(bytes);

                Recorder recorder(direction);
                EventSink events(recorder);
                decodeMessage(direction, field, events);

                std::string json;
                {
                    Out out(&json);
                    JsonSink sink(out);
                    sink.begin();
                    decodeMessage(direction, field, sink);
                    sink.end();
                }
                ASSERT_EQ(recorder.finish(), json) << field;
                ++messages;
                fields += static_cast<std::size_t>(std::count(json.begin(), json.end(), '{'));
            }
        }
    }
    EXPECT_GT(fields, 4 * messages); // the messages were decoded, not refused
}

// Every error kind of the decoders is in the table of docs/json-lines.md and
// in the JSON Schema's list, and nothing else is.
TEST(ErrorKinds, AreTheDocsAndTheSchemas)
{
    auto read = [](const char* path) {
        std::ifstream file(std::string(VORNLOG_SOURCE_DIR) + "/" + path, std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(file), {}};
    };
    const std::string page = read("docs/json-lines.md");
    const std::string schema = read("docs/vornlog-jsonl.schema.json");
    const std::size_t table = page.find("\n## Error kinds\n");
    ASSERT_NE(table, std::string::npos);
    const std::size_t enumAt = schema.find("\"enum\": [\"unknown_instruction\"");
    ASSERT_NE(enumAt, std::string::npos);
    const std::string list = schema.substr(enumAt, schema.find(']', enumAt) - enumAt);
    std::size_t listed = 0;
    for (const ErrorKindName& kind : kErrorKinds) {
        EXPECT_NE(page.find("| `" + std::string(kind.name) + "` |", table), std::string::npos) << kind.name;
        EXPECT_NE(list.find("\"" + std::string(kind.name) + "\""), std::string::npos) << kind.name;
        for (const ErrorKindName& other : kErrorKinds) EXPECT_TRUE(&kind == &other || kind.name != other.name);
        ++listed;
    }
    EXPECT_EQ(static_cast<std::size_t>(std::count(list.begin(), list.end(), ',')) + 1, listed) << list;
}

#ifdef VORNLOG_DISSECTOR
// The Wireshark dissector is written by the build from these tables: its
// table of the Table instruction's sub-commands is the decoder's, text for
// text.
TEST(DissectorTables, AreTheDecodersTables)
{
    std::ifstream file(VORNLOG_DISSECTOR, std::ios::binary);
    ASSERT_TRUE(file) << VORNLOG_DISSECTOR;
    const std::string lua{std::istreambuf_iterator<char>(file), {}};
    std::string codes = "codes = {";
    for (const CodeText& c : table::kTableCommands) {
        char code[16];
        std::snprintf(code, sizeof code, "[0x%02X] = \"", c.code);
        codes += code + std::string(c.text.view()) + "\", ";
    }
    codes += "}";
    const std::size_t at = lua.find("G.instructions[0x54]");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(lua.find(codes, at), lua.find("codes = {", at)) << codes;
}
#endif
