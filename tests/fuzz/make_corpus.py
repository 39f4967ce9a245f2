#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/.

The seeds are small, valid examples of what each target takes, laid out the way
the target reads its input; libFuzzer mutates from there. Run it again after
changing a target's input layout.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
STX, CR, ACK, NAK = 0x02, 0x0D, 0x06, 0x15
GUARD = 0x1D4B0C62


def nibbles(v):
    return bytes(0x30 + ((v >> s) & 15) for s in range(28, -4, -4))


def command(letter, v32=0, v16=0):
    body = bytes([STX, ord(letter)]) + nibbles(v32 & 0xFFFFFFFF) + struct.pack(">H", v16)
    c = (sum(body) + len(body)) & 0xFF
    return body + bytes([0x30 + (c >> 4), 0x30 + (c & 15), CR])


def block(data, seq):
    header = bytes([STX, ord("A")]) + struct.pack(">H", len(data)) + bytes([seq])
    f = (sum(header) + sum(data) + len(data) + 5) & 0xFFFF
    return header + data + struct.pack(">H", f) + bytes([CR])


def reply(code, payload=b""):
    r = bytes([STX, code]) + payload
    s = (sum(r) + len(r)) & 0xFFFF  # (bytes 0..L-4) + (L-3), with L = len(r) + 3
    return r + struct.pack(">H", s) + bytes([CR])


class Provider:
    """Lays out bytes the way FuzzedDataProvider consumes them: byte runs from
    the front, integers from the back, most significant byte first."""

    def __init__(self):
        self.front, self.back = bytearray(), bytearray()

    def bytes(self, b):
        self.front += b

    def integer(self, value, lo, hi):
        span = hi - lo
        n = (span.bit_length() + 7) // 8
        self.back += (value - lo).to_bytes(n, "big")

    def boolean(self, v):
        self.integer(int(v), 0, 255)

    def data(self):
        return bytes(self.front) + bytes(reversed(self.back))


def reply_input(buf, L, tag=2, v32=GUARD, v16=100, letter="E", seq=0, block_data=b"\x01\x02\x03"):
    # 32 bytes for the frame builders, then the reply and its length and state.
    b = Provider()
    b.integer(v32, -(2**31), 2**31 - 1)
    b.boolean(True)
    b.integer(v16, -2, 32770)
    b.integer(ord(letter), -128, 127)
    b.integer(seq, 0, 255)
    back = bytes(reversed(b.back))
    builders = (block_data + bytes(32))[: 32 - len(back)] + back
    r = Provider()
    r.bytes(buf)
    r.boolean(True)
    r.integer(L, -2, 2004)
    r.integer(tag, 0, 3)
    return builders + r.data()


def image(model=b"KD7", level=b"0", tag=b"REL1", version=b"V1.10.00", tail=b"\xff" * 16):
    return version + model + level + tag + tail


def records(stream, timing=0):
    return b"".join(bytes([timing, b]) for b in stream)


def main():
    seeds = {
        "fuzz_config": {
            "program.ini": b"[SERIAL]\r\nCommNum=3\r\n[MODE]\r\nModeProg=0\r\n",
            "quoted.ini": b"; written by hand\n[Serial]\n  commnum = \"12\"\n[mode]\nmodeprog='1'\n",
            "numbers.ini": b"[SERIAL]\nCommNum= -0.5\tx\n[MODE]\nModeProg=+1.000\n[OTHER]\nName=a=b\n",
            "long.ini": b"[SERIAL]\r\nCommNum=" + b"9" * 300 + b"\r\n",
            "twice.ini": b"[MODE]\rModeProg\r[MODE]\rModeProg=1\r[SERIAL]\rCommNum=255.5\r",
        },
        "fuzz_image": {
            # flags: bit 0 programming mode, bit 1 padded, bits 2.. device kind
            "accepted": bytes([0b10, 0]) + image(),
            "lab-prog": bytes([0b11, 0]) + image(tag=b"LABT"),
            "lab-refused": bytes([0b10, 0]) + image(tag=b"LABT"),
            "wrong-model": bytes([0b10, 0]) + image(model=b"KD8"),
            "boot-level": bytes([0b10, 0]) + image(level=b"1"),
            "whole-file": bytes([0, 0]) + b"\xff" * 1024 + image(),
            "short-file": bytes([0, 0]) + b"\xff" * 1024 + b"V1.1",
            "read-write": bytes([0b110, 0]) + image(),
            "write-only": bytes([0b1010, 0]) + image(),
            "sequential": bytes([0b1110, 0]) + image(),
            "failing-read": bytes([0b10010, 11]) + image(),
            "failing-seek": bytes([0b10110, 0]) + image(),
        },
        "fuzz_reply": {
            "ack": reply_input(reply(ACK), 5),
            "nak": reply_input(reply(NAK), 5),
            "identify": reply_input(reply(ACK, nibbles(0x00202249) + b"V1.10.00KD70B102"), 29),
            "bad-sum": reply_input(bytes([STX, ACK, 0, 9, CR]), 5, letter="W"),
            "timeout": reply_input(reply(ACK), 5, tag=3),
            "long-L": reply_input(reply(ACK), 2002, v16=32767),
        },
        "fuzz_receiver": {
            "identify": records(command("I")),
            "write": records(command("E", GUARD) + command("W") + block(bytes(range(16)), 0)
                             + block(bytes(range(16)), 0) + block(b"", 0) + command("S", GUARD)),
            "noise": records(b"\r\r" + command("I") + b"\xff\x00"),
            "garbage-header": records(bytes([STX, ord("A"), 0x10, 0x00, STX]) + command("I")),
            # a byte 150 ms late abandons the frame; 253 resets; 252 expires at the deadline
            "gap": records(command("I")[:7]) + bytes([203, 0x30]) + records(command("I")),
            "reset": records(command("W")[:5]) + bytes([253]) + records(command("W")) + bytes([252]),
            "wake": records(command("S", GUARD) + b"BL\r" + command("I")),
        },
    }
    for target, files in seeds.items():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, content in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)


if __name__ == "__main__":
    main()
