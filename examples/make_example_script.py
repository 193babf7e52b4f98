#!/usr/bin/env python3
"""Writes the example upgrade script examples/tessiv_example.bin.

App1 lives at 0x00002000-0x00011FFF and App2 at 0x00012000-0x00021FFF (App2 at
0x00012000 suits every card generation). The data are pseudo-random but fixed, so the
file comes out the same on every run. The lines use the forms operators meet in real
scripts: comments, blank lines, blanks between bytes, tabs, lower-case hexadecimal,
notes in parentheses, and a pass-through line.

    examples/make_example_script.py [OUTPUT]
"""
import os
import sys

APP1 = (0x00002000, 0x00011FFF)
APP2 = (0x00012000, 0x00021FFF)
APP1_BLOCKS = 24
APP2_BLOCKS = 16
BLOCK = 128


class Lcg:
    """A small fixed generator, so the data do not depend on Python's random module."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def byte(self):
        self.state = (self.state * 1103515245 + 12345) & 0xFFFFFFFF
        return (self.state >> 16) & 0xFF

    def bytes(self, count):
        return bytes(self.byte() for _ in range(count))


def hexes(data, sep=" "):
    return sep.join(f"{b:02X}" for b in data)


def address_line(start, end):
    # Prefix at the very start, 18 digits, nothing after: the form every check expects.
    return f"F05D010009{start:08X}{end:08X}00"


def address_check_line(start, end):
    return f"F0 D4 00 00 08 {start:08X} {end:08X}"


def data_line(ins, block_index, address, data, style):
    header = bytes([0xF0, ins, (block_index >> 8) & 0xFF, block_index & 0xFF, 4 + len(data)])
    body = header + address.to_bytes(4, "big") + data
    if style == "spaced":
        return hexes(body)
    if style == "compact":
        return hexes(body, "")
    if style == "lower":
        return hexes(body).lower()
    if style == "tabs":
        return hexes(body[:5]) + "\t" + hexes(body[5:9], "") + "\t" + hexes(body[9:], "")
    raise ValueError(style)


def build():
    rng = Lcg(0x7E551)
    styles = ["spaced", "compact", "lower", "tabs"]
    out = [
        "; Example upgrade script for Tessiv cards (Norvane IC).",
        "; Written by examples/make_example_script.py; edit the generator, not this file.",
        ";",
        "; AddressLines: start and end of App1, then of App2.",
        address_line(*APP1),
        address_line(*APP2),
        "",
        "; ---- App1 ----",
        address_check_line(*APP1) + "   ; App1 area",
    ]
    for i in range(APP1_BLOCKS):
        address = APP1[0] + i * BLOCK
        line = data_line(0xD1, i, address, rng.bytes(BLOCK), styles[i % len(styles)])
        if i == 3:
            line += "   (block 3: the end of the vector table)"
        elif i % 8 == 0:
            line += f"   ; App1 block {i}"
        out.append(line)
        if i % 10 == 9:
            out.append("")
    out += [
        "",
        "; ---- App2 ----",
        address_check_line(*APP2).lower(),
    ]
    for i in range(APP2_BLOCKS):
        address = APP2[0] + i * BLOCK
        out.append(data_line(0xD2, i, address, rng.bytes(BLOCK), styles[(i + 1) % len(styles)]))
    out += [
        "",
        "; Pass-through: handed to the card unchanged (44 bytes of key material).",
        "F0 DD 00 00 2C " + hexes(rng.bytes(44)) + " ; pass-through",
        "",
        "; end of script",
    ]
    return "\r\n".join(out) + "\r\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "tessiv_example.bin")
    with open(target, "w", newline="") as f:
        f.write(build())


if __name__ == "__main__":
    main()
