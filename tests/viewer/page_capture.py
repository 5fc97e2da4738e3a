"""The capture that vornlog -w puts in a viewer page: base64 of its
compressed bytes in the capture element and the elements of class
capture-part after it."""
import base64
import re
import zlib

_CAPTURE = re.compile(
    r'<script type="application/octet-stream" id="capture"([^>]*) data-encoding="deflate">\r?\n([^<]*)</script>'
    r'((?:\r?\n<script type="application/octet-stream" class="capture-part">\r?\n[^<]*</script>)*)')


def inflate_parts(stream):
    """The bytes of a compressed capture: parts, each four bytes of length
    (little-endian) then a zlib stream (its checksum checked) that must end
    exactly there.
    Raises ValueError when it does not."""
    out, at = [], 0
    while at < len(stream):
        if at + 4 > len(stream):
            raise ValueError(f"a part's length cut at {at}")
        length = int.from_bytes(stream[at:at + 4], "little")
        part = stream[at + 4:at + 4 + length]
        if len(part) != length:
            raise ValueError(f"the part at {at} is cut")
        z = zlib.decompressobj()
        try:
            out.append(z.decompress(part))
        except zlib.error as e:
            raise ValueError(f"the part at {at}: {e}") from e
        if not z.eof or z.unused_data:
            raise ValueError(f"the part at {at} does not end where its length says")
        at += 4 + length
    return b"".join(out)


def embedded_capture(page):
    """(the capture element's data-size or None, the capture's bytes) of the
    page's text; None when the page holds no compressed capture."""
    m = _CAPTURE.search(page)
    if not m:
        return None
    size = re.search(r' data-size="(\d+)"', m.group(1))
    return int(size.group(1)) if size else None, inflate_parts(compressed_capture(page))


def with_capture(page, stream):
    """The page's text with `stream` as its compressed capture, in the
    capture element alone."""
    m = _CAPTURE.search(page)
    return page[:m.start(2)] + base64.b64encode(stream).decode() + "</script>" + page[m.end():]


def compressed_capture(page):
    """The compressed bytes that the page's text carries."""
    m = _CAPTURE.search(page)
    return base64.b64decode(m.group(2) + re.sub(r"<[^>]*>", "", m.group(3)))
