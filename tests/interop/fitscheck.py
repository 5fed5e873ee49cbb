"""What the interop tests share: the independent FITS software (astropy with
numpy, fitsverify), the programs under test run as processes, and the
items the programs make from computed or converted values.

Missing software ends the run with status 1 and a line saying what to
install: these checks never pass for want of a checker.
"""
import os
import shutil
import subprocess
import sys
import warnings

try:
    import numpy as np
    from astropy.io import fits
except ImportError as missing:
    sys.exit(f"interop tests: {sys.executable} cannot import astropy/numpy ({missing}); "
             "install Debian's python3-astropy (scripts/need-packages.sh python3-astropy fitsverify)")

FITSVERIFY = shutil.which("fitsverify")
if FITSVERIFY is None:
    sys.exit("interop tests: fitsverify not found on PATH; install Debian's fitsverify "
             "(scripts/need-packages.sh python3-astropy fitsverify)")

MAX_AXIS = 8192
CHANNELS = 4
READ_FAILED = "Error reading FITS file, program terminating."


class Programs:
    """Paths of the programs under test, set from the command line."""
    quadsplit = None
    quadmerge = None
    boxpatch = None
    fitspreview = None
    fitsframe = None


def run(program, args, cwd):
    """Runs a program in `cwd`; gives (exit status, standard output)."""
    env = dict(os.environ)
    # Under the sanitizer build, the programs take the leak checker's options
    # that scripts/test.sh sets for them.
    if "FITSQUAD_PROGRAM_LSAN_OPTIONS" in env:
        env["LSAN_OPTIONS"] = env["FITSQUAD_PROGRAM_LSAN_OPTIONS"]
    done = subprocess.run([program, *args], cwd=cwd, env=env, capture_output=True, text=True,
                          errors="replace", timeout=120)
    if done.stderr:
        sys.stderr.write(done.stderr)
    return done.returncode, done.stdout


def channel_names(image_name):
    """Channel file names: the image name less five characters, then .a.fits to .d.fits."""
    return [f"{image_name[:-5]}.{letter}.fits" for letter in "abcd"]


class Primary:
    """The primary HDU of a file as astropy reads it: raw item values
    (BSCALE and BZERO not applied), card images, and what astropy warned
    about while opening, verifying and reading it."""

    def __init__(self, path):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            with fits.open(path, do_not_scale_image_data=True, memmap=False) as hdul:
                hdul.verify("warn")
                hdu = hdul[0]
                self.header = hdu.header
                self.cards = [card.image for card in hdu.header.cards]
                self.data = None if hdu.data is None else np.array(hdu.data)
        self.warnings = sorted({str(w.message) for w in caught
                                if not issubclass(w.category, ResourceWarning)})


def fitsverify(path):
    """fitsverify's verdict: (error lines, warning lines)."""
    done = subprocess.run([FITSVERIFY, path], capture_output=True, text=True, errors="replace")
    out = done.stdout + done.stderr
    if "**** Verification found" not in out:
        raise AssertionError(f"fitsverify gave no verdict on {path}:\n{out}")
    lines = [line.strip() for line in out.splitlines()]
    errors = [line for line in lines if line.startswith("*** Error")]
    warns = [line for line in lines if line.startswith("*** Warning")]
    for line in warns:
        print(f"fitsverify {os.path.basename(path)}: {line}", file=sys.stderr)
    return errors, warns


def encode(values, dtype):
    """Items of `dtype` made from float32 or float64 values by the writer's
    rules: float items rounded to nearest (exact when widened); integers
    truncated toward zero, values outside 32 bits and NaN giving -2**31, the
    item keeping the low 8, 16 or 32 bits; 32-bit items take 2**31 - 1 for
    2**31 and above."""
    if dtype.kind == "f":
        with np.errstate(over="ignore"):
            return values.astype(dtype)
    wide = values.astype(np.float64)
    inside = (wide >= -2.0**31) & (wide < 2.0**31)
    ints = np.where(inside, np.trunc(np.where(inside, wide, 0)), -2**31).astype(np.int64)
    if dtype.itemsize == 4:
        ints[wide >= 2.0**31] = 2**31 - 1
    return ints.astype(dtype)


def shown(source):
    """The values fitspreview shows for a file's raw items: in double
    precision, BSCALE and BZERO applied wherever they stand in the header."""
    return source.data.astype(np.float64) * source.header.get("BSCALE", 1.0) + source.header.get("BZERO", 0.0)


def read_ppm(path):
    """A grey PPM picture's levels, row 0 at the bottom as in the image."""
    with open(path, "rb") as f:
        magic, width, height, maximum = f.readline(), *map(int, f.readline().split()), f.readline()
        assert magic == b"P6\n" and maximum == b"255\n", path
        levels = np.frombuffer(f.read(), np.uint8).reshape(height, width, 3)
    assert (levels == levels[:, :, :1]).all(), f"{path} is not grey"
    return levels[::-1, :, 0]


def same_bits(actual, expected):
    """None when both arrays hold the same items bit for bit (NaN payloads
    included), else a line naming the first difference."""
    if actual is None or expected is None:
        return None if actual is None and expected is None else f"data {actual!r} != {expected!r}"
    if actual.shape != expected.shape:
        return f"shape {actual.shape} != {expected.shape}"
    size = expected.dtype.itemsize
    if actual.dtype.itemsize != size or actual.dtype.kind != expected.dtype.kind:
        return f"dtype {actual.dtype} != {expected.dtype}"
    native = f"u{size}"
    a = actual.astype(actual.dtype.newbyteorder("=")).view(native)
    e = expected.astype(expected.dtype.newbyteorder("=")).view(native)
    diff = np.argwhere(a != e)
    if diff.size == 0:
        return None
    y, x = diff[0]
    return (f"{len(diff)} items differ; first at row {y}, column {x} (0-based): "
            f"{actual[y, x]!r} != {expected[y, x]!r}")

