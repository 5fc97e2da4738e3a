#include "viewer_page.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace vornlog {

namespace {

constexpr std::string_view kEmptyCapture =
    R"(<script type="application/octet-stream" id="capture" data-name="" data-device=""></script>)";

// The text as an HTML attribute value between double quotes.
void putAttribute(Out& out, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '&': out.write("&amp;"); break;
        case '<': out.write("&lt;"); break;
        case '>': out.write("&gt;"); break;
        case '"': out.write("&quot;"); break;
        case '\'': out.write("&#39;"); break;
        default: out.write(&c, 1);
        }
    }
}

// What goes between two parts of the capture's base64 (below).
constexpr std::string_view kBetweenParts =
    "</script>\n<script type=\"application/octet-stream\" class=\"capture-part\">\n";

// Base64 in lines of 912 characters, in parts of 256 lines (the last
// shorter), of bytes that come in blocks: what does not fill a line waits
// for the next block. Each part is a script element of its own after the
// capture's (`between` goes between two parts), so that the browser reads
// the page in elements of some hundred kilobytes, which it hands to the
// page's script as it reads them, instead of one text of tens of
// megabytes that it grows as it reads. A line is a whole number of three
// bytes: every part is base64 by itself.
class Base64Parts {
public:
    Base64Parts(Out& out, std::string_view between) : out_(out), between_(between) {}

    void add(std::string_view bytes)
    {
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
        std::size_t n = bytes.size();
        if (waiting_ > 0) {
            const std::size_t take = std::min(n, kLine - waiting_);
            std::memcpy(line_ + waiting_, p, take);
            waiting_ += take;
            p += take;
            n -= take;
            if (waiting_ < kLine) return;
            putLines(line_, kLine);
            waiting_ = 0;
        }
        const std::size_t whole = n - n % kLine;
        putLines(p, whole);
        std::memcpy(line_, p + whole, n - whole);
        waiting_ = n - whole;
    }

    void finish()
    {
        if (waiting_ > 0) putLines(line_, waiting_);
        waiting_ = 0;
    }

    static constexpr std::size_t kLine = 684;      // bytes: 912 characters
    static constexpr std::size_t kPartLines = 256; // 171 KiB, 228 KiB of text

private:
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

    // Whole lines, and at the end the last one, shorter.
    void putLines(const std::uint8_t* p, std::size_t n)
    {
        while (n > 0) {
            if (lines_ > 0 && lines_ % kPartLines == 0) out_.write(between_);
            const std::size_t lines =
                std::min<std::size_t>((n + kLine - 1) / kLine, kPartLines - lines_ % kPartLines);
            char* q = out_.room(lines * (kLine / 3 * 4 + 1));
            for (std::size_t l = 0; l < lines; ++l) {
                const std::size_t take = n < kLine ? n : kLine;
                std::size_t i = 0;
                for (; i + 3 <= take; i += 3) {
                    const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8) | p[i + 2];
                    q[0] = kDigits[v >> 18];
                    q[1] = kDigits[(v >> 12) & 63];
                    q[2] = kDigits[(v >> 6) & 63];
                    q[3] = kDigits[v & 63];
                    q += 4;
                }
                if (i < take) {
                    const std::uint32_t v =
                        (std::uint32_t{p[i]} << 16) | (i + 1 < take ? std::uint32_t{p[i + 1]} << 8 : 0);
                    *q++ = kDigits[v >> 18];
                    *q++ = kDigits[(v >> 12) & 63];
                    *q++ = i + 1 < take ? kDigits[(v >> 6) & 63] : '=';
                    *q++ = '=';
                }
                *q++ = '\n';
                p += take;
                n -= take;
            }
            out_.advance(q);
            lines_ += lines;
        }
    }

    Out& out_;
    std::string_view between_;
    std::uint8_t line_[kLine]{};
    std::size_t waiting_ = 0;
    std::size_t lines_ = 0; // written so far
};

// The capture element's start tag with the texts; `encoding` empty for
// the bytes as they are; `stream` the address the page reads the capture
// from, relative to its own (empty: the capture is in the element and the
// parts after it); `size` the capture's own size in bytes, when known.
void putCaptureStart(Out& out, std::string_view name, std::string_view device, std::string_view keep,
                     std::string_view encoding, std::string_view stream = {},
                     std::optional<std::uint64_t> size = std::nullopt)
{
    out.write(R"(<script type="application/octet-stream" id="capture" data-name=")");
    putAttribute(out, name);
    out.write(R"(" data-device=")");
    putAttribute(out, device);
    out.write(R"(" data-keep=")");
    putAttribute(out, keep);
    if (size) {
        out.write(R"(" data-size=")");
        out.write(std::to_string(*size));
    }
    if (!encoding.empty()) {
        out.write(R"(" data-encoding=")");
        out.write(encoding);
    }
    if (!stream.empty()) {
        out.write(R"(" data-stream=")");
        out.write(stream);
    }
    out.write("\">\n");
}

} // namespace

bool isViewerPage(std::string_view page)
{
    const std::size_t at = page.find(kEmptyCapture);
    return at != std::string_view::npos && page.find(kEmptyCapture, at + 1) == std::string_view::npos;
}

void writeViewerPage(std::string_view page, const ViewerCapture& capture, Out& dest)
{
    writeViewerPage(page, capture.name, capture.device, capture.keep, capture.compressed.added(),
                    [&capture](const std::function<void(std::string_view)>& put) {
                        if (capture.earlier) capture.earlier(put);
                        capture.compressed.finish(put);
                    },
                    dest);
}

void writeViewerPage(std::string_view page, std::string_view name, std::string_view device, std::string_view keep,
                     std::uint64_t size, const DeflateStream& stream, Out& dest)
{
    const std::size_t at = page.find(kEmptyCapture);
    dest.write(page.substr(0, at));
    putCaptureStart(dest, name, device, keep, "deflate", {}, size);
    Base64Parts base64(dest, kBetweenParts);
    stream([&base64](std::string_view block) { base64.add(block); });
    base64.finish();
    dest.write("</script>");
    dest.write(page.substr(at + kEmptyCapture.size()));
}

std::uint64_t viewerPageSize(std::string_view page, std::string_view name, std::string_view device,
                             std::string_view keep, std::uint64_t size, std::uint64_t compressed)
{
    std::string start;
    {
        Out out(&start);
        putCaptureStart(out, name, device, keep, "deflate", {}, size);
        out.flush();
    }
    const std::uint64_t line = Base64Parts::kLine;
    const std::uint64_t lines = (compressed + line - 1) / line;
    const std::uint64_t rest = compressed % line;
    const std::uint64_t text = compressed / line * (line / 3 * 4 + 1) + (rest ? (rest + 2) / 3 * 4 + 1 : 0);
    const std::uint64_t between = lines > 0 ? (lines - 1) / Base64Parts::kPartLines * kBetweenParts.size() : 0;
    return page.size() - kEmptyCapture.size() + start.size() + text + between + std::string_view("</script>").size();
}

ServedPage servedViewerPage(std::string_view page, std::string_view name, std::string_view device,
                            std::string_view keep)
{
    ServedPage served;
    const std::size_t at = page.find(kEmptyCapture);
    std::string_view before = page.substr(0, at);
    // The policy's own text ends at the attribute's closing quote.
    constexpr std::string_view kPolicy = R"(<meta http-equiv="Content-Security-Policy" content=")";
    const std::size_t policy = before.find(kPolicy);
    const std::size_t policyEnd =
        policy == std::string_view::npos ? policy : before.find('"', policy + kPolicy.size());
    {
        Out head(&served.head);
        if (policyEnd != std::string_view::npos) {
            head.write(before.substr(0, policyEnd));
            head.write("; connect-src 'self'");
            before.remove_prefix(policyEnd);
        }
        head.write(before);
        putCaptureStart(head, name, device, keep, {}, "capture");
        head.flush();
    }
    served.tail = "</script>";
    served.tail += page.substr(at + kEmptyCapture.size());
    return served;
}

} // namespace vornlog
