"""Crafted messages of the controller: each way through each message's
layout (every group taken and not, every range check passed and failed,
every code table's unknown value, the hooks of a table, short messages),
as a usbmon pcapng of device 1.7.

    crafted.write(path)
"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "json"))
import random_captures  # noqa: E402

LOW_PART = ("51 4D 52 35 56 31 00 41" "04 07 00 08 32" "00 81 02 43 C5 06 07 2D 00 00"
            "0A 05 C0 1E 03 01 00")
EMPTY_LOW_PART = "00 41 42 43 44 45 46 47" "00 00 00 00 00 " + "00 " * 10 + "FF 20 00 80 07 FF 09"
HIGH_PART = "90 01 00 00 C8 00 E8 03 01 00" + " 10 27" * 5 + " 20 4E" * 5
UPPER_PART = "01 00 FF FF 00 00 34 12 10 00"

# (from the PC, the message's bytes), in order.
MESSAGES = [
    (True, "42 00"), (True, "42 02 05 34 12"), (True, "42 33"), (False, "42 00"), (False, "42 05"),
    (True, "44 80"), (True, "44 9F 00 00 00 00"),
    (True, "44 7A 18 FC FF FF 90 01 00 00 91 01 00 00 70 FE FF FF FF FF FF FF 01 00 00 80 C0 07 09 E8 03 00 00"),
    (True, "44 05 E8 03 00 00 02 00 00 00 03 00 00 00"),
    (False, "44 01 03 20 00 00 5B 3F 40 FF 05 86 10 27 00 00"), (False, "44 07 09"),
    (True, "46"), (False, "46 BF 25 8D 00"),
    (True, "47 03 05"), (True, "47 01"), (True, "47 09"), (False, "47 01 06"), (False, "47 05 00"),
    (True, "49"), (False, "49 00 02 01 00 00 01 00 00 00 00 00 00 00 00 00"), (False, "49 05 08"),
    (True, "4C 10 03 05 68 65 6C 6C 6F"), (True, "4C 00 19 00"), (True, "4C 11 00 1E 41 42"),
    (True, "4C 06 03 0E 11 11 1F 11 11 11 00"), (True, "4C 06 09"), (True, "4C 05"), (True, "4C 20"),
    (False, "4C 01"), (False, "4C 07"),
    (True, "4D 03 20"), (True, "4D 03 00"), (True, "4D 03 90"), (True, "4D 01"), (True, "4D"),
    (False, "4D 01 05"), (False, "4D 04 FF"),
    (True, "4F 02"), (True, "4F 07"), (False, "4F 0B"),
    (True, "50 01 80"), (True, "50 02"), (False, "50 01 03 FF 40"), (False, "50 05 00 00 00"),
    (True, "53 00"), (True, "53 03"), (True, "53 02"), (False, "53 96 05 00 00 FE FF FF FF"),
    (True, "54 00"), (True, "54 01 02"), (True, "54 01 07"), (True, "54 03 01"),
    (True, "54 04 01 " + LOW_PART), (True, "54 04 00 " + EMPTY_LOW_PART), (True, "54 04 02 51 4D 52"),
    (True, "54 06 02 " + HIGH_PART), (True, "54 08 00 " + UPPER_PART), (True, "54 0A 01"),
    (False, "54 00 01"), (False, "54 FF 00"), (False, "54 03 01 " + LOW_PART),
    (False, "54 05 00 " + HIGH_PART), (False, "54 07 01 " + UPPER_PART), (False, "54 0C 01 00 00"),
    (True, "56"), (False, "56 51 4D 52 35 56 20 76 31 2E 30 07"), (False, "56 76 31"),
    (True, "5A 55 AA 01"), (True, "5A 55 AA 07"), (True, "5A 34 12 00"), (False, "5A 55 AA 00"),
    (True, "43 01 02"), (False, "99 00"), (True, "44"),
]


def write(path):
    rng = random.Random(38)
    ns = 1_796_047_331_521_000_000
    messages = []
    for pc, data in MESSAGES:
        ns += 4_000_000
        messages.append((pc, bytes.fromhex(data), ns))
    with open(path, "wb") as f:
        f.write(random_captures.pcapng(rng, messages))
