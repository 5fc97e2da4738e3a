#include "table_parts.h"

#include <cstdint>

#include "../lines.h"
#include "../setup_fields.h"
#include "../texts.h"

namespace vornlog::table {

namespace {

constexpr int kAxes = 5;
constexpr int kOutputs = 10;
constexpr int kNameLength = 8;

// Axis names A1 to A5. Codes 0 to 3 all mean an axis that is not used;
// codes missing here have no meaning.
constexpr const char* kAxisNotUsed = "Not used\n";
constexpr CodeText kAxisCodes[] = {
    {0x00, kAxisNotUsed}, {0x01, kAxisNotUsed}, {0x02, kAxisNotUsed}, {0x03, kAxisNotUsed},
    {0x04, "X\n"},        {0x05, "XL\n"},       {0x06, "XR\n"},
    {0x08, "Y\n"},        {0x09, "YL\n"},       {0x0A, "YR\n"},
    {0x0C, "Z\n"},        {0x0D, "ZL\n"},       {0x0E, "ZR\n"},
    {0x10, "A\n"},        {0x11, "B\n"},        {0x12, "C\n"},
    {0x20, "R\n"},        {0x21, "RX\n"},       {0x22, "RY\n"},       {0x23, "RZ\n"},
    {0x30, "U\n"},        {0x31, "V\n"},        {0x32, "W\n"},
};

// An OUTn byte: bits 0 to 2 are the axis whose signal the output carries
// (0 none, 6 and 7 invalid), bits 7 and 6 say which signal and how.
constexpr unsigned kOutAxisMask = 0x07;
constexpr unsigned kLastAxis = 5;
constexpr BitText kOutSignalBits[] = {
    {7, "STEP", "DIR"},
    {6, "reversed signal", "normal signal"},
};

// Bits 0 to 2 of FLAGS (bits 3 to 7 are not shown).
constexpr BitText kFlagsBits[] = {
    {0, "Origin/End switches enabled", "Origin/End switches disabled"},
    {1, "Table orientation reversed", "Table orientation normal"},
    {2, "M_ON/OFF reversed", "M_ON/OFF normal"},
};

constexpr std::uint8_t kSlowestSlope = 0x0F;

// Eight raw characters, or the empty-name line when the first is 0; the
// rest of the name is then skipped.
void putTableName(Message& m)
{
    const std::uint8_t first = m.u8();
    if (first == 0) {
        put<"     Table name:\tempty name...\n">(m.out);
        m.bytes.seek(m.bytes.position() + kNameLength - 1);
        return;
    }
    put<"     Table name:\t%c">(m.out, first);
    for (int i = 1; i < kNameLength; ++i) put<"%c">(m.out, m.u8());
    put<"\n">(m.out);
}

void putAxisName(Out& out, int n, std::uint8_t code)
{
    put<"     A%d=0x%02X->\t">(out, n, code);
    completeLine(out, kAxisCodes, code, "Error: Unknown value...\n");
}

void putOutput(Out& out, int n, std::uint8_t signal)
{
    put<"     OUT%d=\t0x%02X\n">(out, n, signal);
    const unsigned axis = signal & kOutAxisMask;
    if (axis == 0) {
        put<"       Axe is not used\n">(out);
    } else if (axis > kLastAxis) {
        putError<"       Axe %d is invalid\n">(out, axis);
    } else {
        put<"       Axe=%d\n">(out, axis);
        putBits(out, kOutSignalBits, signal);
    }
}

} // namespace

void lowPart(Message& m)
{
    putTableName(m);
    for (int n = 1; n <= kAxes; ++n) putAxisName(m.out, n, m.u8());
    for (int n = 1; n <= kOutputs; ++n) putOutput(m.out, n, m.u8());

    const std::uint8_t freq = m.u8(); // in units of 10 kHz
    put<"     FREQ=0x%02X\t-> %dkHz\n">(m.out, freq, freq * 10);

    const std::uint8_t slope = m.u8();
    if (slope <= kSlowestSlope)
        put<"     SLOPE=0x%02X\t-> 0x00:fastest...0x0F:slowest\n">(m.out, slope);
    else
        putError<"     SLOPE=0x%02X\t-> ERROR: Invalid value...\n">(m.out, slope);

    const std::uint8_t pwmMax = m.u8();
    put<"     PWM max=0x%02X -> %d => %d%%\n">(m.out, pwmMax, pwmMax, pwmPercent(pwmMax));

    putMoffLine(m.out, m.u8());

    const std::uint8_t flags = m.u8();
    put<"     FLAGS=0x%02X\n">(m.out, flags);
    putBits(m.out, kFlagsBits, flags);

    const std::uint8_t io1 = m.u8();
    put<"     IO1=0x%02X\n">(m.out, io1);
    putBits(m.out, kIo1Bits, io1);

    put<"     LANG=0x%02X\n">(m.out, m.u8());
}

void highPart(Message& m)
{
    // The steps for 1 mm of each axis turn that axis's speeds into mm/s.
    // An axis with 0 steps for 1 mm shows no speed lines.
    std::int32_t steps[kAxes];
    for (int n = 1; n <= kAxes; ++n) {
        const std::int32_t s = m.value(2);
        steps[n - 1] = s;
        put<"     S%d=0x%04X\t-> %d steps for 1mm\n">(m.out, n, s, s);
    }
    for (int n = 1; n <= kAxes; ++n) {
        const std::int32_t speed = m.value(2);
        const std::int32_t s = steps[n - 1];
        if (s == 0) continue;
        put<"     V%dM=0x%04X\t-> %d steps/s -> %.1f mm/s without acceleration\n">(
            m.out, n, speed, speed, static_cast<double>(speed) / s);
    }
    for (int n = 1; n <= kAxes; ++n) {
        const std::int32_t speed = m.value(2);
        const std::int32_t s = steps[n - 1];
        if (s == 0) continue;
        put<"     V%dMA=0x%04X -> %d steps/s -> %.1f mm/s with acceleration\n">(
            m.out, n, speed, speed, static_cast<double>(speed) / s);
    }
}

void upperPart(Message& m)
{
    for (int n = 1; n <= kAxes; ++n) {
        const std::int32_t ori = m.value(2);
        put<"     ORI%d=0x%04X\t-> %d steps from Origin switch\n">(m.out, n, ori, ori);
    }
}

} // namespace vornlog::table
