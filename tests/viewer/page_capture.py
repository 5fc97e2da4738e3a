"""The capture that vornlog -w puts in a viewer page: base64 of its
deflated bytes in the capture element and the elements of class
capture-part after it."""
import base64
import re
import zlib

_CAPTURE = re.compile(
    r'<script type="application/octet-stream" id="capture"([^>]*) data-encoding="deflate">\r?\n([^<]*)</script>'
    r'((?:\r?\n<script type="application/octet-stream" class="capture-part">\r?\n[^<]*</script>)*)')


def embedded_capture(page):
    """(the capture element's data-size or None, the capture's bytes) of the
    page's text; None when the page holds no compressed capture."""
    m = _CAPTURE.search(page)
    if not m:
        return None
    size = re.search(r' data-size="(\d+)"', m.group(1))
    return (int(size.group(1)) if size else None,
            zlib.decompress(base64.b64decode(m.group(2) + re.sub(r"<[^>]*>", "", m.group(3)))))
