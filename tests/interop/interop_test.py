"""The programs' files checked with FITS software written elsewhere: inputs
written by astropy and the files shipped with astropy's own tests go
through quadsplit, boxpatch and quadmerge, and every file written is read
back with astropy (raw item values, BSCALE and BZERO not applied) and
checked with fitsverify, as are fitsframe's frame and the demo's files.
fitspreview's cuts, tone curves and thumbnails are compared with astropy's
visualization module and numpy.

Run: interop_test.py QUADSPLIT QUADMERGE BOXPATCH FITSPREVIEW FITSFRAME [unittest arguments]
"""
import contextlib
import glob
import os
import re
import shutil
import sys
import subprocess
import tempfile
import unittest
import warnings

from fitscheck import (CHANNELS, MAX_AXIS, READ_FAILED, Primary, Programs, channel_names, encode,
                       fits, fitsverify, np, read_ppm, run, same_bits, shown)
from astropy.visualization import (AsinhStretch, AsymmetricPercentileInterval, LinearStretch, LogStretch,
                                   SqrtStretch, ZScaleInterval)

NAXIS1_COMMENT = "PIXELS ON 1ST MOST VARYING AXIS"
CHANNEL_KEY = "ZPREMPCH"
CHANNEL_COMMENT = "PREAMP CHANNEL NUMBER (1-4)"


def value_card(keyword, value, comment):
    return f"{keyword:<8}= {value:>20} / {comment}".ljust(80)


# Images written by astropy. Integer images hold their type's extremes; the
# shapes cover every width mod 4, a zero channel width and 8192 along
# either axis. The float images hold NaNs with payloads (one signalling),
# +-inf, -0, subnormals and the largest finite values, some of them beside
# the boxes of BOXES and of ROUND_TRIPS.
def _ints(rng, dtype, width, height):
    low, high = np.iinfo(dtype).min, np.iinfo(dtype).max
    data = rng.integers(low, high, size=(height, width), endpoint=True).astype(dtype)
    data[0, 0], data[-1, -1] = low, high
    return data


def _floats32(rng, width, height):
    data = rng.normal(0.0, 1e4, size=(height, width)).astype(np.float32)
    unusual = np.array([0x7FC00001, 0xFFC00002, 0x7F800001, 0x7F800000, 0xFF800000, 0x80000000,
                        0x00000001, 0x7F7FFFFF], dtype=np.uint32).view(np.float32)
    data[0, :len(unusual)] = unusual
    data[1, 3], data[2, 9] = unusual[0], unusual[3]
    return data


def _floats64(rng, width, height):
    data = rng.normal(0.0, 1e5, size=(height, width)) / 3.0  # most not single-precision values
    unusual = np.array([0x7FF8000000000001, 0xFFF8000000000002, 0x7FF0000000000001, 0x7FF0000000000000,
                        0xFFF0000000000000, 0x8000000000000000, 0x0000000000000001, 0x000FFFFFFFFFFFFF,
                        0x7FEFFFFFFFFFFFFF, 0xFFEFFFFFFFFFFFFF], dtype=np.uint64).view(np.float64)
    data[0, :len(unusual)] = unusual
    data[1, 3], data[2, 9], data[3, 1], data[3, 13] = unusual[0], unusual[3], unusual[9], unusual[8]
    return data


def _ints32(rng, width, height):
    data = _ints(rng, np.int32, width, height)
    data[1, :4] = [2**24 + 1, -2**24 - 1, 2**31 - 64, -2**31 + 1]  # not single-precision values
    return data


def _scaled16(rng, width, height):
    hdu = fits.PrimaryHDU(rng.uniform(-1000.0, 1000.0, size=(height, width)))
    hdu.scale("int16", bscale=0.5, bzero=100)
    return hdu


def _long_header(rng, width, height):
    """History, comments and a long string in CONTINUE cards over several
    blocks, padded so that END is the last card of its block: each channel
    file has one header block more."""
    hdu = fits.PrimaryHDU(_ints(rng, np.int16, width, height))
    for i in range(90):
        hdu.header.add_history(f"step {i}: a history card of the kind pipelines leave behind")
    hdu.header["OBSNOTE"] = "a long note, " * 30
    hdu.header.add_comment("comments after the long string")
    while (sum(len(card.image) // 80 for card in hdu.header.cards) + 1) % 36:
        hdu.header.add_comment("padding")
    return hdu


INPUTS = {
    "u8_13x7": lambda rng: fits.PrimaryHDU(_ints(rng, np.uint8, 13, 7)),
    "i8_bzero_16x5": lambda rng: fits.PrimaryHDU(_ints(rng, np.int8, 16, 5)),
    "i16_8192x3": lambda rng: fits.PrimaryHDU(_ints(rng, np.int16, MAX_AXIS, 3)),
    "u16_bzero_30x9": lambda rng: fits.PrimaryHDU(_ints(rng, np.uint16, 30, 9)),
    "i16_scaled_11x6": lambda rng: _scaled16(rng, 11, 6),
    "i16_long_header_9x4": lambda rng: _long_header(rng, 9, 4),
    "i16_3x2": lambda rng: fits.PrimaryHDU(_ints(rng, np.int16, 3, 2)),
    "i32_5x8192": lambda rng: fits.PrimaryHDU(_ints(rng, np.int32, 5, MAX_AXIS)),
    "i32_16x6": lambda rng: fits.PrimaryHDU(_ints32(rng, 16, 6)),
    "u32_bzero_8x3": lambda rng: fits.PrimaryHDU(_ints(rng, np.uint32, 8, 3)),
    "f32_19x4": lambda rng: fits.PrimaryHDU(_floats32(rng, 19, 4)),
    "f64_16x6": lambda rng: fits.PrimaryHDU(_floats64(rng, 16, 6)),
}

# Boxes (x1, x2, y1, y2) for boxpatch: inside, given in reverse, clamped to
# the image, one pixel, and starting at column 1 (no left neighbour).
BOXES = [(5, 9, 2, 4), (9, 5, 4, 2), (10, 500, -3, 500), (7, 7, 3, 3), (1, 3, 2, 3)]
BOX_IMAGES = ["u8_13x7", "u16_bzero_30x9", "i32_16x6", "f32_19x4", "f64_16x6"]

# Split, a box patched in channel b, merged: every item outside the box
# comes back with its bytes.
ROUND_TRIPS = {"u16_bzero_30x9": (2, 5, 3, 7), "i32_16x6": (2, 3, 2, 5), "f64_16x6": (2, 3, 2, 5)}

# Channel b replaced by a file of another item type: its values go to the
# image's items through double precision by the writer's rules.
MIXED = [
    ("u8_13x7", np.int16, [-1, 255, 256, 300, -300, 32767, -32768]),
    ("u16_bzero_30x9", np.float64, [1.9, -1.9, 40000.5, 65537.7, -1e10, np.nan, np.inf]),
    ("i32_16x6", np.float64, [2**24 + 1, 2**31 - 0.5, 2**31, 1e12, -2**31, -2**31 - 1, np.nan, -np.inf, -0.9]),
    ("i32_16x6", np.float32, [2.0**31 - 128, -2.0**31, 2.0**31, -2.0**31 - 256, -1.5]),
    ("f32_19x4", np.float64, [1 / 3, 1e300, -1e300, 1e-50, 3 * 2.0**-150, np.nan, -0.0]),
    ("f64_16x6", np.int32, [-2**31, 2**31 - 1, 2**24 + 1]),
    ("f64_16x6", np.float32, [1 / 3, 2.0**-149, -np.inf, -0.0]),
]


def patched(raw, box):
    """The items boxpatch writes for `box`, and the box's rows and columns:
    limits clamped to 1..N-1 and ordered; in each row, L and R the pixels
    beside the box as float32 values (float64 for BITPIX -64),
    s = (R - L) / W and column x1 + k - 1 = k * s + L. A box that starts at
    column 1 takes R. Every other item as it was."""
    height, width = raw.shape
    x1, x2 = sorted(max(1, min(v, width - 1)) for v in box[:2])
    y1, y2 = sorted(max(1, min(v, height - 1)) for v in box[2:])
    region = (slice(y1 - 1, y2), slice(x1 - 1, x2))
    values = raw[region[0]].astype(np.float64 if raw.dtype.itemsize == 8 else np.float32)
    right = values[:, x2:x2 + 1]
    k = np.arange(1, x2 - x1 + 2, dtype=values.dtype)
    with np.errstate(all="ignore"):
        if x1 == 1:
            box_values = np.repeat(right, len(k), axis=1)
        else:
            left = values[:, x1 - 2:x1 - 1]
            box_values = k * ((right - left) / values.dtype.type(len(k))) + left
    expected = raw.copy()
    expected[region] = encode(box_values, raw.dtype)
    return expected, region


def nan_blind(a, region):
    """Float items with every NaN in `region` made one pattern: the payload of
    a NaN that boxpatch's arithmetic produces is not among what it promises."""
    if a is None or a.dtype.kind != "f":
        return a
    a = a.copy()
    part = a[region]
    part[np.isnan(part)] = np.nan
    return a


class InteropCase(unittest.TestCase):
    maxDiff = None

    @contextlib.contextmanager
    def fresh_folder(self):
        """A new temporary folder for one case, removed with its contents."""
        self.folder = tempfile.mkdtemp(prefix="fitsquad-interop-")
        try:
            yield
        finally:
            shutil.rmtree(self.folder)

    def path(self, name):
        return os.path.join(self.folder, name)

    def write_input(self, case, name="img.fits"):
        INPUTS[case](np.random.default_rng(5)).writeto(self.path(name))
        return name

    def assert_verifies(self, path, source_errors=()):
        """fitsverify finds no error in `path` beyond those of its source file."""
        errors, _ = fitsverify(path)
        self.assertEqual([e for e in errors if e not in source_errors], [], f"fitsverify on {path}")

    def assert_opens_as(self, path, source, cards, data, computed=None):
        """astropy sees `cards` and `data` in `path`, every item bit for bit
        (NaN payloads compared outside the `computed` region only), and warns
        of nothing it did not warn of in the source."""
        out = Primary(path)
        self.assertEqual(out.header["BITPIX"], source.header["BITPIX"], path)
        self.assertEqual(out.cards, cards, path)
        if computed is not None:
            out.data, data = nan_blind(out.data, computed), nan_blind(data, computed)
        self.assertIsNone(same_bits(out.data, data), path)
        self.assertEqual([w for w in out.warnings if w not in source.warnings], [], path)

    def split(self, name, source, source_errors=()):
        """Runs quadsplit on `name` and checks the four channel files."""
        before = self.read(name)
        status, output = run(Programs.quadsplit, [name], self.folder)
        names = channel_names(name)
        self.assertEqual((status, output), (0, "".join(n + "\n" for n in names)))
        self.assertEqual(self.read(name), before, "quadsplit changed its input")

        height, width = source.data.shape
        quarter = width // CHANNELS
        naxis1 = next(i for i, card in enumerate(source.cards) if card.startswith("NAXIS1  ="))
        for c, channel in enumerate(names):
            cards = list(source.cards)
            cards[naxis1] = value_card("NAXIS1", quarter, NAXIS1_COMMENT)
            cards.append(value_card(CHANNEL_KEY, c + 1, CHANNEL_COMMENT))
            data = source.data[:, c::CHANNELS][:, :quarter]
            self.assert_opens_as(self.path(channel), source, cards, data)
            self.assert_verifies(self.path(channel), source_errors)
        return names

    def merge(self, name, source, source_errors=(), expected=None):
        """Runs quadmerge on `name` and checks the image it writes: the
        source's header and `expected` (by default the source's own items)."""
        status, output = run(Programs.quadmerge, [name], self.folder)
        self.assertEqual((status, output), (0, f"filename: {name}, length={len(name)}\n"))
        self.assert_opens_as(self.path(name), source, source.cards,
                             source.data if expected is None else expected)
        self.assert_verifies(self.path(name), source_errors)

    def patch(self, name, source, box, source_errors=()):
        """Runs boxpatch with `box` on `name` and checks the file it writes:
        the patched image, then every byte that followed it unchanged."""
        before = self.read(name)
        status, output = run(Programs.boxpatch, ["-b", *map(str, box), name], self.folder)
        self.assertEqual((status, output), (0, ""))
        self.assert_opens_as(self.path(name), source, source.cards, *patched(source.data, box))
        self.assert_verifies(self.path(name), source_errors)
        with fits.open(self.path(name)) as hdul:
            info = hdul.fileinfo(0)
            image_end = info["datLoc"] + info["datSpan"]
        after = self.read(name)
        self.assertEqual((len(after), after[image_end:]), (len(before), before[image_end:]),
                         "boxpatch changed what follows the image")

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()


class Quadsplit(InteropCase):
    def test_astropy_images(self):
        for case in INPUTS:
            with self.subTest(case=case), self.fresh_folder():
                name = self.write_input(case)
                self.split(name, Primary(self.path(name)))

    def test_end_as_last_card_gives_a_longer_header(self):
        with self.fresh_folder():
            name = self.write_input("i16_long_header_9x4")
            source_size = len(self.read(name))
            self.assertGreaterEqual(len(fits.getheader(self.path(name)).tostring()) // 2880, 3)
            for channel in self.split(name, Primary(self.path(name))):
                self.assertEqual(len(self.read(channel)), source_size + 2880, channel)


class Quadmerge(InteropCase):
    def test_split_then_merge_restores_the_image(self):
        for case in INPUTS:
            with self.subTest(case=case), self.fresh_folder():
                name = self.write_input(case)
                source = Primary(self.path(name))
                if source.header["NAXIS1"] < CHANNELS:
                    continue  # quadmerge reads no channel file zero columns wide
                original = self.read(name)
                self.split(name, source)
                self.merge(name, source)
                self.assertEqual(self.read(name), original, "merged file differs from the image")

    def test_a_patched_channel_comes_back_in_its_columns(self):
        for case, box in ROUND_TRIPS.items():
            with self.subTest(case=case), self.fresh_folder():
                name = self.write_input(case)
                source = Primary(self.path(name))
                channel_b = channel_names(name)[1]
                self.split(name, source)
                self.patch(channel_b, Primary(self.path(channel_b)), box)
                expected = source.data.copy()
                quarter = source.data.shape[1] // CHANNELS
                expected[:, 1:CHANNELS * quarter:CHANNELS] = Primary(self.path(channel_b)).data
                self.assertIsNotNone(same_bits(expected, source.data), "the box changed nothing")
                self.merge(name, source, expected=expected)

    def test_channels_of_another_item_type(self):
        for case, dtype, values in MIXED:
            with self.subTest(case=case, channel=np.dtype(dtype).name), self.fresh_folder():
                name = self.write_input(case)
                source = Primary(self.path(name))
                channel_b = channel_names(name)[1]
                self.split(name, source)
                shape = Primary(self.path(channel_b)).data.shape
                fits.PrimaryHDU(np.resize(np.array(values, dtype), shape)).writeto(self.path(channel_b),
                                                                                  overwrite=True)
                expected = source.data.copy()
                expected[:, 1:CHANNELS * shape[1]:CHANNELS] = encode(
                    Primary(self.path(channel_b)).data.astype(np.float64), source.data.dtype)
                self.merge(name, source, expected=expected)


class Boxpatch(InteropCase):
    def test_boxes_on_astropy_images(self):
        for case in BOX_IMAGES:
            for box in BOXES:
                with self.subTest(case=case, box=box), self.fresh_folder():
                    name = self.write_input(case)
                    self.patch(name, Primary(self.path(name)), box)


def astropy_test_files():
    """The FITS files shipped with astropy's own tests."""
    folder = os.path.join(os.path.dirname(fits.__file__), "tests", "data")
    files = sorted(glob.glob(os.path.join(folder, "**", "*.fits"), recursive=True))
    if not files:
        raise AssertionError(f"no FITS files in {folder}")
    return files


def expected_refusal(header):
    """The reader's line for a primary header that the programs cannot take,
    or None for a two-axis image they read."""
    naxis = header.get("NAXIS")
    n1, n2 = header.get("NAXIS1", 0), header.get("NAXIS2", 0)
    bitpix = header.get("BITPIX")
    if naxis != 2 or n1 <= 0 or n2 <= 0 or bitpix is None or bitpix < -64:
        return "rf: File not in FITS format"
    for key, length in (("NAXIS1", n1), ("NAXIS2", n2)):
        if length > MAX_AXIS:
            return f"rf: Error - {key} = {length} is larger than the limit of {MAX_AXIS}"
    if bitpix not in (8, 16, 32, -32, -64):
        return f"rf:  {bitpix} BITPIX format not supported."
    return None


def primary_header(path):
    with fits.open(path, ignore_missing_simple=True) as hdul:
        return hdul[0].header.copy()


class ShippedImages(InteropCase):
    def test_two_axis_images_split_patched_and_merged(self):
        images = [p for p in astropy_test_files() if expected_refusal(primary_header(p)) is None]
        self.assertGreaterEqual(len(images), 3, "fewer two-axis images than expected in astropy's test data")
        for path in images:
            with self.subTest(file=os.path.basename(path)), self.fresh_folder():
                name = os.path.basename(path)
                shutil.copyfile(path, self.path(name))
                errors, _ = fitsverify(path)
                source = Primary(path)
                self.patch(name, source, (3, 6, 2, 5), errors)
                shutil.copyfile(path, self.path(name))
                self.split(name, source, errors)
                self.merge(name, source, errors)
                # Extensions after the image are kept: the file is the same again.
                with open(path, "rb") as f:
                    self.assertEqual(self.read(name), f.read())

class ShippedRefusals(InteropCase):
    def test_other_files_refused_unchanged(self):
        kinds = set()
        commands = {"quadsplit": lambda n: [n], "quadmerge": lambda n: [n],
                    "boxpatch": lambda n: ["-b", "2", "3", "2", "3", n]}
        for path in astropy_test_files():
            header = primary_header(path)
            line = expected_refusal(header)
            if line is None:
                continue
            kinds.add(f"NAXIS {header.get('NAXIS')}")
            kinds.add(f"BITPIX {header.get('BITPIX')}")
            if header.get("NAXIS1", 0) > MAX_AXIS:
                kinds.add("NAXIS1 beyond the limit")
            for program, args in commands.items():
                with self.subTest(file=os.path.basename(path), program=program), self.fresh_folder():
                    name = os.path.basename(path)
                    shutil.copyfile(path, self.path(name))
                    status, output = run(getattr(Programs, program), args(name), self.folder)
                    self.assertEqual((status, output), (1, f"{line}\n{READ_FAILED}\n"))
                    self.assertEqual(os.listdir(self.folder), [name])
                    with open(path, "rb") as f:
                        self.assertEqual(self.read(name), f.read())
        for kind in ("NAXIS 0", "NAXIS 3", "BITPIX 64", "NAXIS1 beyond the limit"):
            self.assertIn(kind, kinds, "astropy's test data no longer hold such a file")


def _sky(rng, width, height):
    """A sky of about 1000 with noise, a gradient, stars and hot pixels."""
    y, x = np.mgrid[0:height, 0:width]
    sky = 1000.0 + 0.3 * x + 0.5 * y + rng.normal(0.0, 20.0, size=(height, width))
    for _ in range(40):
        cx, cy = rng.uniform(0, width), rng.uniform(0, height)
        sky += rng.uniform(500.0, 30000.0) * np.exp(-((x - cx) ** 2 + (y - cy) ** 2) / (2 * 1.5**2))
    sky[rng.integers(0, height, 30), rng.integers(0, width, 30)] = 60000.0
    return sky


def _sky_scaled16(rng, width, height):
    hdu = fits.PrimaryHDU(_sky(rng, width, height))
    hdu.scale("int16", bscale=2.0, bzero=30000)
    return hdu


def _sky_float32_gaps(rng, width, height):
    data = _sky(rng, width, height).astype(np.float32)
    data[10:25, :] = np.nan  # a gap of whole rows
    data[:, 40:43] = np.nan  # and of columns
    data[rng.integers(0, height, 200), rng.integers(0, width, 200)] = np.nan
    data[3, 5], data[7, 9] = np.inf, -np.inf
    return fits.PrimaryHDU(data)


class ScaleInLaterBlock:
    """An image whose BSCALE and BZERO cards stand in its second header
    block, after 40 COMMENT cards, as in files from some other projects."""

    def __init__(self, hdu):
        self.hdu = hdu

    def writeto(self, path):
        self.hdu.writeto(path)
        with open(path, "rb") as f:
            raw = f.read()
        header_end = len(self.hdu.header.tostring())
        cards = [raw[i:i + 80] for i in range(0, header_end, 80)]
        end = next(i for i, card in enumerate(cards) if card.startswith(b"END "))
        scale = [c for c in cards[:end] if c[:8] in (b"BSCALE  ", b"BZERO   ")]
        rest = [c for c in cards[:end] if c not in scale]
        comment = b"COMMENT   notes of a pipeline that come before the scaling cards".ljust(80)
        cards = rest + [comment] * 40 + scale + [cards[end]]
        header = b"".join(cards).ljust((len(cards) + 35) // 36 * 2880, b" ")
        with open(path, "wb") as f:
            f.write(header + raw[header_end:])


# Images written by astropy for the comparisons of cuts and pictures.
SKY_INPUTS = {
    "u16_bzero_300x200": lambda rng: fits.PrimaryHDU(np.clip(_sky(rng, 300, 200), 0, 65535).astype(np.uint16)),
    "i16_scaled_257x131": lambda rng: _sky_scaled16(rng, 257, 131),
    "f32_nan_211x173": lambda rng: _sky_float32_gaps(rng, 211, 173),
    "u8_190x150": lambda rng: fits.PrimaryHDU(np.clip((_sky(rng, 190, 150) - 900.0) / 8.0, 0, 255).astype(np.uint8)),
    "f64_163x149": lambda rng: fits.PrimaryHDU(_sky(rng, 163, 149) / 7.0),
    "u16_scale_in_block_2_230x170": lambda rng: ScaleInLaterBlock(
        fits.PrimaryHDU(np.clip(_sky(rng, 230, 170), 0, 65535).astype(np.uint16))),
}
CUTS_LINE = re.compile(r"black at (\S+), white at (\S+)\n$")


def printed_cuts(output):
    return [float(v) for v in CUTS_LINE.search(output).groups()]


class PictureCase(InteropCase):
    def images(self, shipped=False):
        """(case, make): the demo frame and the images of SKY_INPUTS, and with
        `shipped` the two-axis images shipped with astropy's tests; make()
        writes the image into the current folder and gives its name."""
        def frame():
            status, output = run(Programs.fitsframe, ["frame.fits"], self.folder)
            self.assertEqual(status, 0, output)
            self.assertEqual(Primary(self.path("frame.fits")).data.shape, (2048, 2048))
            return "frame.fits"

        def written(make):
            make(np.random.default_rng(7)).writeto(self.path("img.fits"))
            return "img.fits"

        def copied(path):
            shutil.copyfile(path, self.path("img.fits"))
            return "img.fits"

        cases = [("demo frame", frame)]
        cases += [(case, lambda make=make: written(make)) for case, make in SKY_INPUTS.items()]
        if shipped:
            cases += [(os.path.basename(p), lambda p=p: copied(p)) for p in astropy_test_files()
                      if expected_refusal(primary_header(p)) is None]
        return cases

    def picture(self, args, name="p.ppm"):
        """Runs fitspreview; gives its cuts and the picture's grey levels."""
        status, output = run(Programs.fitspreview, [*args, name], self.folder)
        self.assertEqual(status, 0, output)
        return printed_cuts(output), read_ppm(self.path(name))


class Zscale(PictureCase):
    """fitspreview -z prints its cuts with BSCALE and BZERO applied; astropy's
    ZScaleInterval is given the values the program shows (the raw items in
    double precision, scaled). They agree within 1% of the image's range of
    finite values."""

    def assert_cuts_agree(self, ours, values):
        theirs = ZScaleInterval().get_limits(values)
        finite = values[np.isfinite(values)]
        tolerance = 0.01 * (finite.max() - finite.min())
        self.assertLess(finite.min(), theirs[0], "the cuts are the image's range: nothing compared")
        for what, a, b in zip(("black", "white"), ours, theirs):
            self.assertLessEqual(abs(a - b), tolerance, f"{what}: fitspreview {a}, astropy {b}")

    def test_demo_frame_and_astropy_images(self):
        for case, make in self.images():
            with self.subTest(case=case), self.fresh_folder():
                name = make()
                ours, _ = self.picture(["-z", name])
                self.assert_cuts_agree(ours, shown(Primary(self.path(name))))


def block_means(values, n):
    """Each n x n block's mean of its finite values (NaN when none), blocks
    from row and column 0, partial at the far edges."""
    height, width = values.shape
    padded = np.full((-(-height // n) * n, -(-width // n) * n), np.nan)
    padded[:height, :width] = np.where(np.isfinite(values), values, np.nan)
    blocks = padded.reshape(padded.shape[0] // n, n, padded.shape[1] // n, n)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # blocks without a finite value
        return np.nanmean(blocks, axis=(1, 3))


def grey_levels(values, black, white, stretch=LinearStretch()):
    """Grey levels as fitspreview defines them, by astropy: the values
    scaled from the cuts to 0..1 and clipped, the stretch, then 255 times it
    rounded; NaN black. Cuts that are equal make the values above them
    white and the rest black."""
    if white == black:
        return np.where(values > black, 255, 0)
    scaled = np.clip((values - black) / (white - black), 0.0, 1.0)
    levels = np.floor(stretch(scaled) * 255.0 + 0.5)
    return np.where(np.isnan(values), 0, levels)


class Thumbnails(PictureCase):
    """fitspreview -s N against numpy's block means: the printed cuts (range
    and percentiles of the means; zscale within 1% of astropy's zscale of
    them) and, for the cuts numpy finds alike, every grey level, on images
    with partial blocks at the right and top and blocks without any finite
    value."""

    def assert_thumbnail(self, args, means):
        finite = means[np.isfinite(means)]
        cuts, levels = self.picture(args)
        self.assertEqual(levels.shape, means.shape)
        if "-z" in args:
            for a, b in zip(cuts, ZScaleInterval().get_limits(means)):
                self.assertLessEqual(abs(a - b), 0.01 * (finite.max() - finite.min()) + 1e-9 * abs(b), args)
            return
        if "-p" in args:
            expected = np.percentile(finite, [float(args[args.index("-p") + 1]), float(args[args.index("-p") + 2])])
        else:
            expected = [finite.min(), finite.max()]
        np.testing.assert_allclose(cuts, expected, rtol=1e-5, err_msg=str(args))
        differ = np.abs(levels.astype(int) - grey_levels(means, *expected))
        self.assertLessEqual(differ.max(), 1, args)
        self.assertLessEqual(np.count_nonzero(differ), 0.001 * differ.size, args)

    def test_block_means(self):
        for case, make in self.images(shipped=True):
            with self.subTest(case=case), self.fresh_folder():
                name = make()
                values = shown(Primary(self.path(name)))
                for n in (2, 5, 16):
                    self.assert_thumbnail(["-s", str(n), name], block_means(values, n))
                self.assert_thumbnail(["-s", "3", "-p", "1", "99", name], block_means(values, 3))
                self.assert_thumbnail(["-s", "4", "-z", name], block_means(values, 4))
                # A region of the image and of a second one beside it, 4 black
                # columns between them.
                height, width = values.shape
                region = (7, width - 3, 2, height // 2)
                part = block_means(values[region[2] - 1:region[3], region[0] - 1:region[1]], 3)
                two = np.hstack([part, np.full((part.shape[0], 4), np.nan), part])
                self.assert_thumbnail(["-s", "3", "-r", *map(str, region), name, name], two)

    def test_all_nan_blocks_are_black(self):
        with self.fresh_folder():
            data = np.arange(11 * 9, dtype=np.float32).reshape(9, 11)
            data[:4, :4] = np.nan  # a whole block of 4 x 4
            data[8, 8:] = np.inf   # the top right block holds infinities only
            fits.PrimaryHDU(data).writeto(self.path("img.fits"))
            means = block_means(data.astype(np.float64), 4)
            self.assertTrue(np.isnan(means[0, 0]) and np.isnan(means[2, 2]))
            self.assert_thumbnail(["-s", "4", "img.fits"], means)


class ToneCurves(PictureCase):
    """fitspreview -p 0.5 99.5 -f CURVE against astropy's
    AsymmetricPercentileInterval(0.5, 99.5) and its stretches with their
    defaults: the same cuts, no grey level more than 1 apart and at most
    0.1% of them different."""

    CURVES = {"linear": LinearStretch(), "sqrt": SqrtStretch(), "log": LogStretch(), "asinh": AsinhStretch()}

    def test_stretches(self):
        for case, make in self.images(shipped=True):
            with self.subTest(case=case), self.fresh_folder():
                name = make()
                values = shown(Primary(self.path(name)))
                black, white = AsymmetricPercentileInterval(0.5, 99.5).get_limits(values)
                for curve, stretch in self.CURVES.items():
                    cuts, levels = self.picture(["-p", "0.5", "99.5", "-f", curve, name])
                    np.testing.assert_allclose(cuts, [black, white], rtol=1e-5, err_msg=curve)
                    differ = np.abs(levels.astype(int) - grey_levels(values, black, white, stretch))
                    self.assertLessEqual(differ.max(), 1, curve)
                    self.assertLessEqual(np.count_nonzero(differ), 0.001 * differ.size, curve)


class ValidFrames(InteropCase):
    """fitsverify finds neither error nor warning in fitsframe's frames, nor
    in the files the demo writes (frame, channel files, patched and merged)."""

    def test_frames(self):
        for args in ([], ["-s", "333", "77", "--seed", "5"]):
            with self.subTest(args=args), self.fresh_folder():
                self.assertEqual(run(Programs.fitsframe, [*args, "frame.fits"], self.folder)[0], 0)
                self.assertEqual(fitsverify(self.path("frame.fits")), ([], []))

    def test_demo_files(self):
        with self.fresh_folder():
            programs = os.path.join(self.folder, "bin")
            os.mkdir(programs)
            for name in ("quadsplit", "quadmerge", "boxpatch", "fitspreview", "fitsframe"):
                os.symlink(getattr(Programs, name), os.path.join(programs, name))
            demo = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "demo.sh")
            out = os.path.join(self.folder, "demo")
            done = subprocess.run([demo, out], env={**os.environ, "FITSQUAD_BIN": programs}, capture_output=True,
                                  text=True, timeout=300)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            files = sorted(glob.glob(os.path.join(out, "*.fits")))
            self.assertGreaterEqual(len(files), 7, files)
            for path in files:
                self.assertEqual(fitsverify(path), ([], []), path)


if __name__ == "__main__":
    if len(sys.argv) < 6:
        sys.exit(__doc__)
    (Programs.quadsplit, Programs.quadmerge, Programs.boxpatch, Programs.fitspreview,
     Programs.fitsframe) = map(os.path.abspath, sys.argv[1:6])
    unittest.main(argv=[sys.argv[0], *sys.argv[6:]], verbosity=1)
