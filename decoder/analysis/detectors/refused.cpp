#include "refused.h"

#include <cstdio>

#include "protocol/errors.h"
#include "protocol/instructions.h"

namespace vornlog::findings {

namespace {

std::string hex(std::uint32_t v)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X", v & 0xFF);
    return text;
}

// The errors of a reply whose status the protocol does not name.
constexpr std::string_view kUnknownStatusName = errorKindOf(kUnknownStatus).name;
constexpr std::string_view kInvalidStatusName = errorKindOf(kInvalidStatus).name;

} // namespace

std::optional<Cause> refusalOf(const FieldValues& v, motion::DataEvent event)
{
    switch (v.code()) {
    case motion::kDataCode:
        if (event == motion::DataEvent::NotUsbMode) return Cause::NotUsbMode;
        if (event == motion::DataEvent::OtherStatus) return Cause::UnknownStatus;
        return std::nullopt;
    // Their status is read for the stop bits and the buffer.
    case motion::kInformationCode:
    case motion::kStopCode: return std::nullopt;
    case motion::kBufferCode:
        if (v.has<motion::kBufferRet>() && v.value<motion::kBufferRet>() == 0) return Cause::CommandRefused;
        return std::nullopt;
    case table::kTableCode:
        if (v.has<table::kTableReplyRet>() && v.value<table::kTableReplyRet>() == 0) return Cause::TableWriteFailed;
        break;
    default: break;
    }
    for (const ErrorKind* e : v.errors())
        if (e->name == kUnknownStatusName || e->name == kInvalidStatusName) return Cause::UnknownStatus;
    return std::nullopt;
}

void Refused::refused(Cause cause, const Message& in)
{
    const FieldValues& v = in.v;
    const Moment& m = in.m;
    const std::optional<RequestPairing::Request>& asked = in.facts.answered;
    std::string text;
    switch (cause) {
    case Cause::NotUsbMode:
        text = "The controller refused the Data message at " + desk_.place(asked ? momentOf(*asked) : m) +
               ": it is not in USB mode (ST 0x" + hex(motion::kNotUsbMode) + ")";
        break;
    case Cause::CommandRefused:
        text = "The controller refused a Buffer Management command (RET 0x00) at " + desk_.place(m);
        break;
    case Cause::TableWriteFailed: text = "A table write failed or its table is in use (RET 0x00) at " + desk_.place(m); break;
    default:
        if (v.code() == motion::kDataCode)
            text = "The controller answered a Data message with ST 0x" + hex(v.value<motion::kDataStatusSt>()) +
                   ", a status the protocol does not name, at " + desk_.place(m);
        else
            text = "The controller's " + std::string(instructionName(v.code())) + " reply at " + desk_.place(m) +
                   " carries a status the protocol does not name";
        break;
    }
    desk_.episode(Kind::Refused, cause, asked ? momentOf(*asked) : m, m, std::move(text));
}

} // namespace vornlog::findings
