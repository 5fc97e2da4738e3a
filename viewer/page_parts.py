"""What both pages' assembly scripts do alike: the hash that a page's
Content-Security-Policy lets an inline script or style in by, and the check
that a file may be put inside its element."""
import base64
import hashlib
import sys


def sha256(text):
    return "'sha256-" + base64.b64encode(hashlib.sha256(text.encode()).digest()).decode() + "'"


def inline(name, text):
    # The HTML parser ends a script or style element at the first "</" of
    # its name, and "<!--" changes how it reads a script: neither may occur.
    lower = text.lower()
    for bad in ("</script", "</style", "<!--"):
        if bad in lower:
            sys.exit(f"assemble.py: {name} holds {bad!r}, which would end its element in the page")
    return text
