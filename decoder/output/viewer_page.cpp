#include "viewer_page.h"

#include <cstdint>

#include "deflate.h"

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

// Base64, in lines of 76 characters.
void putBase64(Out& out, std::string_view bytes)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    constexpr std::size_t kLine = 57; // bytes: 76 characters
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t n = bytes.size();
    while (n > 0) {
        const std::size_t take = n < kLine ? n : kLine;
        char* q = out.room(kLine / 3 * 4 + 1);
        std::size_t i = 0;
        for (; i + 3 <= take; i += 3) {
            const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8) | p[i + 2];
            *q++ = kDigits[v >> 18];
            *q++ = kDigits[(v >> 12) & 63];
            *q++ = kDigits[(v >> 6) & 63];
            *q++ = kDigits[v & 63];
        }
        if (i < take) {
            const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (i + 1 < take ? std::uint32_t{p[i + 1]} << 8 : 0);
            *q++ = kDigits[v >> 18];
            *q++ = kDigits[(v >> 12) & 63];
            *q++ = i + 1 < take ? kDigits[(v >> 6) & 63] : '=';
            *q++ = '=';
        }
        *q++ = '\n';
        out.advance(q);
        p += take;
        n -= take;
    }
}

} // namespace

bool isViewerPage(std::string_view page)
{
    const std::size_t at = page.find(kEmptyCapture);
    return at != std::string_view::npos && page.find(kEmptyCapture, at + 1) == std::string_view::npos;
}

void writeViewerPage(std::string_view page, const ViewerCapture& capture, Out& dest)
{
    const std::size_t at = page.find(kEmptyCapture);
    dest.write(page.substr(0, at));
    dest.write(R"(<script type="application/octet-stream" id="capture" data-name=")");
    putAttribute(dest, capture.name);
    dest.write(R"(" data-device=")");
    putAttribute(dest, capture.device);
    dest.write(R"(" data-keep=")");
    putAttribute(dest, capture.keep);
    dest.write("\" data-encoding=\"deflate\">\n");
    putBase64(dest, zlibCompress(capture.bytes));
    dest.write("</script>");
    dest.write(page.substr(at + kEmptyCapture.size()));
}

} // namespace vornlog
