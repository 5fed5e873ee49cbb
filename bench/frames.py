"""Deterministic test frames for the benchmark.

    frames.py OUTDIR

Writes, for every frame of the set, NAME.fits (the image) and the four
channel images NAME.a.fits .. NAME.d.fits that quadmerge reads. The channel
images hold other pixels than the image (a second seed), so a merge changes
the image. Headers span two or three blocks (HISTORY cards pad them).
Integer pixels stay within 2**24 so that they pass through single-precision
planes exactly, and the data are noise over a smooth slope, like a frame.
The BITPIX -64 frame holds values no single-precision item can hold, and
scattered among them NaNs (with payloads), infinities, the largest and the
smallest doubles, subnormals and negative zero.
"""
import sys
from pathlib import Path

import numpy as np

BLOCK = 2880

# name, width, height, BITPIX, BZERO (None: no card), header blocks
FRAMES = [
    ("i16_8192", 8192, 8192, 16, 32768, 3),
    ("f32_4096", 4096, 4096, -32, None, 2),
    ("i32_4096", 4096, 4096, 32, None, 3),
    ("i16_2048", 2048, 2048, 16, 32768, 2),
    ("u8_1024", 1024, 1024, 8, None, 2),
    ("f64_4096", 4096, 4096, -64, None, 2),
]

DTYPES = {8: ">u1", 16: ">i2", 32: ">i4", -32: ">f4", -64: ">f8"}

# Bit patterns sprinkled over the BITPIX -64 frame: quiet NaNs with payloads
# and signs, infinities, the largest, smallest normal and smallest
# subnormal doubles, a subnormal with a payload, negative zero.
SPECIALS = np.array([0x7FF8000000000001, 0xFFF800000000BEEF, 0x7FF0000000000000, 0xFFF0000000000000,
                     0x7FEFFFFFFFFFFFFF, 0xFFEFFFFFFFFFFFFF, 0x0010000000000000, 0x0000000000000001,
                     0x800FEDCBA9876543, 0x8000000000000000], dtype=np.uint64).view(np.float64)


def card(key, value=None, comment=""):
    if value is None:
        text = f"{key:<8}{comment}"
    else:
        text = f"{key:<8}= {value:>20} / {comment}"
    return text[:80].ljust(80)


def header_bytes(width, height, bitpix, bzero, blocks, channel=None):
    cards = [
        card("SIMPLE", "T", "file does conform to FITS standard"),
        card("BITPIX", str(bitpix), "number of bits per data pixel"),
        card("NAXIS", "2", "number of data axes"),
        card("NAXIS1", str(width), "length of data axis 1"),
        card("NAXIS2", str(height), "length of data axis 2"),
    ]
    if bzero is not None:
        cards += [card("BSCALE", "1", "physical = BZERO + BSCALE * array"), card("BZERO", str(bzero), "")]
    cards.append(card("OBJECT", "'bench frame'", "deterministic benchmark data"))
    # END lands in the last block: pad with HISTORY cards.
    tail = [card("ZPREMPCH", str(channel), "PREAMP CHANNEL NUMBER (1-4)")] if channel else []
    room = blocks * 36 - 1 - len(tail)
    n = 0
    while len(cards) < room - 1:
        n += 1
        cards.append(card("HISTORY", comment=f" padding card {n} of a multi-block header"))
    cards += tail + [card("END")]
    text = "".join(cards).encode("ascii")
    return text.ljust(blocks * BLOCK, b" ")


def pixels(width, height, bitpix, seed):
    rng = np.random.default_rng(seed)
    slope = np.add.outer(np.arange(height) * 0.5, np.arange(width) * 0.25)
    noise = rng.normal(0.0, 40.0, (height, width))
    values = slope + noise
    if bitpix == 8:
        return (values % 256).astype(np.uint8)
    if bitpix == 16:
        return (values % 65536 - 32768).astype(np.int16)
    if bitpix == 32:
        return (values * 300.0 % (1 << 24)).astype(np.int32) - (1 << 23)
    if bitpix == -32:
        return values.astype(np.float32)
    # Every value needs more than 24 bits of mantissa; one in 4096 is special.
    values = values * (1.0 + 1e-9) + 1.0 / 3.0
    spots = rng.integers(0, width * height, width * height // 4096)
    values.flat[spots] = SPECIALS[np.arange(spots.size) % SPECIALS.size]
    return values


def write(path, header, data, bitpix):
    raw = np.ascontiguousarray(data).astype(DTYPES[bitpix]).tobytes()
    raw += b"\0" * (-len(raw) % BLOCK)
    path.write_bytes(header + raw)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for seed, (name, width, height, bitpix, bzero, blocks) in enumerate(FRAMES):
        image = pixels(width, height, bitpix, 2 * seed + 1)
        write(out / f"{name}.fits", header_bytes(width, height, bitpix, bzero, blocks), image, bitpix)
        other = pixels(width, height, bitpix, 2 * seed + 2)
        for c in range(4):
            channel = other[:, c::4][:, : width // 4]
            head = header_bytes(width // 4, height, bitpix, bzero, blocks, channel=c + 1)
            write(out / f"{name}.{'abcd'[c]}.fits", head, channel, bitpix)


if __name__ == "__main__":
    main()
