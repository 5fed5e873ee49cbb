"""The same jobs done with astropy and numpy: the peer the programs are
timed against, and the reference their output is checked against.

    peer.py split IMAGE           writes the four channel files beside IMAGE
    peer.py merge IMAGE           rebuilds IMAGE in place from its channel files
    peer.py patch X1 X2 Y1 Y2 IMAGE   interpolates the box in place
    peer.py same A B              exit 0 when A and B hold the same image
                                  (axes, BITPIX, item bytes; ZPREMPCH if any)

Pixels are handled as stored (BSCALE/BZERO not applied), as the programs do.
"""
import sys

import numpy as np
from astropy.io import fits

RAW = dict(do_not_scale_image_data=True)
DTYPES = {8: ">u1", 16: ">i2", 32: ">i4", -32: ">f4", -64: ">f8"}


def channel_name(image, c):
    return image[:-5] + "." + "abcd"[c] + ".fits"


def keep_scaling(header, source):
    """astropy drops BSCALE and BZERO from the header of an HDU made from raw
    items; put the image's back (the items are still written as they are)."""
    after = "NAXIS2"
    for key in ("BSCALE", "BZERO"):
        if key in source:
            header.set(key, source[key], source.comments[key], after=after)
            after = key


def split(image):
    with fits.open(image, **RAW) as hdul:
        hdu = hdul[0]
        data = hdu.data
        width = data.shape[1] // 4
        for c in range(4):
            header = hdu.header.copy()
            header["ZPREMPCH"] = (c + 1, "PREAMP CHANNEL NUMBER (1-4)")
            out = fits.PrimaryHDU(np.ascontiguousarray(data[:, c::4][:, :width]), header, **RAW)
            keep_scaling(out.header, hdu.header)
            out.writeto(channel_name(image, c), overwrite=True)


def merge(image):
    with fits.open(image, mode="update", **RAW) as hdul:
        data = hdul[0].data
        for c in range(4):
            with fits.open(channel_name(image, c), **RAW) as ch:
                part = ch[0].data
                target = data[:, c::4]
                rows = min(part.shape[0], target.shape[0])
                cols = min(part.shape[1], target.shape[1])
                target[:rows, :cols] = part[:rows, :cols]


def patch(x1, x2, y1, y2, image):
    with fits.open(image, mode="update", **RAW) as hdul:
        data = hdul[0].data
        height, width = data.shape
        clamp = lambda v, n: max(1, min(v, n - 1))
        x1, x2 = sorted((clamp(x1, width), clamp(x2, width)))
        y1, y2 = sorted((clamp(y1, height), clamp(y2, height)))
        rows = slice(y1 - 1, y2)
        # Single precision, but double for BITPIX -64 items.
        real = np.float64 if data.dtype.itemsize == 8 else np.float32
        right = data[rows, x2].astype(real)
        left = right if x1 < 2 else data[rows, x1 - 2].astype(real)
        step = (right - left) / real(x2 - x1 + 1)
        k = np.arange(1, x2 - x1 + 2, dtype=real)
        box = left[:, None] + k[None, :] * step[:, None]
        data[rows, x1 - 1 : x2] = box.astype(data.dtype)  # integers truncate toward zero


def same(a, b):
    """Compares the items as stored: unscaled, bit for bit (NaN payloads,
    negative zero), in the file's big-endian encoding."""
    with fits.open(a, **RAW) as ha, fits.open(b, **RAW) as hb:
        x, y = ha[0], hb[0]
        # An absent BSCALE or BZERO means 1 or 0.
        keys = {"BITPIX": None, "NAXIS1": None, "NAXIS2": None, "BSCALE": 1, "BZERO": 0, "ZPREMPCH": None}
        for key, default in keys.items():
            if x.header.get(key, default) != y.header.get(key, default):
                print(f"{a} vs {b}: {key} {x.header.get(key, default)} != {y.header.get(key, default)}")
                return 1
        for hdu, name in ((x, a), (y, b)):
            stored = DTYPES[hdu.header["BITPIX"]]
            if hdu.data.dtype != np.dtype(stored):
                print(f"{name}: items read as {hdu.data.dtype}, not the stored {stored}")
                return 1
        differ = x.data.view(np.uint8) != y.data.view(np.uint8)
        if differ.any():
            first = int(np.flatnonzero(differ)[0]) // x.data.itemsize
            row, col = divmod(first, x.data.shape[1])
            print(f"{a} vs {b}: {int(differ.sum())} bytes of the items differ, first at column {col + 1} "
                  f"row {row + 1} ({x.data.flat[first]!r} vs {y.data.flat[first]!r})")
            return 1
    return 0


def main(argv):
    job = argv[1]
    if job == "split":
        split(argv[2])
    elif job == "merge":
        merge(argv[2])
    elif job == "patch":
        patch(*map(int, argv[2:6]), argv[6])
    elif job == "same":
        return same(argv[2], argv[3])
    else:
        print(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
