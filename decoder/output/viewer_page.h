// The viewer page with a capture in it (-w): the page that the build makes
// (vornlog-viewer.html, which decodes a capture in the browser with this
// decoder compiled to WebAssembly) written out with the capture's own bytes
// in its capture element, so that the page shows the session by itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/out.h"
#include "deflate.h"

namespace vornlog {

// The file name of the page, beside the program or in its share folder.
inline constexpr std::string_view kViewerPageName = "vornlog-viewer.html";

// The capture, its bytes compressed as they were read, and what the page is
// told besides: its file name, the USB device asked for (-d, "BUS.ADDR")
// and the instructions kept (-i, as given); each text may be empty.
// `earlier`, when given, hands on the parts taken from `compressed` (kept
// on disk), before what `compressed` still holds.
struct ViewerCapture {
    DeflateWriter& compressed;
    std::string_view name;
    std::string_view device;
    std::string_view keep;
    std::function<void(const std::function<void(std::string_view)>&)> earlier = nullptr;
};

// True when `page` is a viewer page: it holds its empty capture element
// once.
bool isViewerPage(std::string_view page);

// The page that the live viewer's server serves, split around its capture
// element's content (which stays empty): the head ends with the element's
// start tag (the texts as attributes, and data-stream naming the capture
// stream that the page reads the capture from as it grows), the tail
// begins with its end tag. The page's Content-Security-Policy lets it
// fetch from its own server besides (connect-src 'self'); nothing else of
// it changes.
struct ServedPage {
    std::string head;
    std::string tail;
};
ServedPage servedViewerPage(std::string_view page, std::string_view name, std::string_view device,
                            std::string_view keep);

// Writes `page` with the capture in its capture element: the bytes
// compressed (deflate.h; what is left is compressed now), in base64, the texts
// as attribute values (escaped; never markup).
void writeViewerPage(std::string_view page, const ViewerCapture& capture, Out& dest);

// The same with the capture's compressed stream made already: `stream` hands it
// on, whole and in order, through the function it is given; `size`: the
// capture's own size in bytes.
using DeflateStream = std::function<void(const std::function<void(std::string_view)>& put)>;
void writeViewerPage(std::string_view page, std::string_view name, std::string_view device, std::string_view keep,
                     std::uint64_t size, const DeflateStream& stream, Out& dest);

// The size in bytes of the page that writeViewerPage writes with a compressed
// stream of `compressed` bytes.
std::uint64_t viewerPageSize(std::string_view page, std::string_view name, std::string_view device,
                             std::string_view keep, std::uint64_t size, std::uint64_t compressed);

} // namespace vornlog
