/* The three jobs written plainly on CFITSIO: the C peer the programs are
 * timed against. The whole image is read into memory row-major in its
 * native items (BSCALE/BZERO not applied), changed, and written back.
 *
 *   cfitsio_peer split IMAGE                writes IMAGE less ".fits" plus
 *                                           .a.fits .. .d.fits, new files
 *   cfitsio_peer merge IMAGE                column k of channel c goes to
 *                                           image column 4k+c, in place
 *   cfitsio_peer patch X1 X2 Y1 Y2 IMAGE    interpolates the box in place
 *
 * Built by bench/run.sh: cc -O2 cfitsio_peer.c -lcfitsio
 */
#include <fitsio.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

struct image {
    fitsfile *file;
    int bitpix, type;
    size_t item, width, height;
    unsigned char *pixels;
};

static void die(const char *what, const char *name, int status) {
    char text[FLEN_STATUS];
    fits_get_errstatus(status, text);
    fprintf(stderr, "cfitsio_peer: %s %s: %s\n", what, name, text);
    exit(1);
}

static int native_type(int bitpix) {
    switch (bitpix) {
    case 8: return TBYTE;
    case 16: return TSHORT;
    case 32: return TINT;
    case -32: return TFLOAT;
    case -64: return TDOUBLE;
    }
    return 0;
}

static void *allocate(size_t bytes) {
    void *p = malloc(bytes ? bytes : 1);
    if (!p) {
        fprintf(stderr, "cfitsio_peer: out of memory\n");
        exit(1);
    }
    return p;
}

/* Opens NAME's primary image and reads all its items. */
static struct image load(const char *name, int mode) {
    struct image im = {0};
    int status = 0, naxis = 0;
    long naxes[2] = {0, 0}, first[2] = {1, 1};
    if (fits_open_diskfile(&im.file, name, mode, &status) ||
        fits_get_img_param(im.file, 2, &im.bitpix, &naxis, naxes, &status))
        die("open", name, status);
    im.type = native_type(im.bitpix);
    if (naxis != 2 || !im.type) {
        fprintf(stderr, "cfitsio_peer: %s: not a two-axis image\n", name);
        exit(1);
    }
    fits_set_bscale(im.file, 1.0, 0.0, &status);
    im.item = (size_t)abs(im.bitpix) / 8;
    im.width = (size_t)naxes[0];
    im.height = (size_t)naxes[1];
    size_t count = im.width * im.height;
    im.pixels = allocate(count * im.item);
    if (count > 0 && fits_read_pix(im.file, im.type, first, (LONGLONG)count, NULL, im.pixels, NULL, &status))
        die("read", name, status);
    return im;
}

static void store(struct image *im, const char *name) {
    int status = 0;
    long first[2] = {1, 1};
    size_t count = im->width * im->height;
    if (count > 0 && fits_write_pix(im->file, im->type, first, (LONGLONG)count, im->pixels, &status))
        die("write", name, status);
    if (fits_close_file(im->file, &status))
        die("close", name, status);
    free(im->pixels);
}

static void channel_name(char *out, size_t room, const char *image, int c) {
    snprintf(out, room, "%.*s.%c.fits", (int)strlen(image) - 5, image, "abcd"[c]);
}

/* Copies n items of the given size from every `step`th item of src to
 * consecutive items of dst (step 4: one channel out of a row), or with
 * step and 1 swapped when `gather` is 0 (a channel row back into the image). */
static void deal(unsigned char *dst, const unsigned char *src, size_t n, size_t item, int gather) {
    size_t di = gather ? 1 : 4, si = gather ? 4 : 1;
    switch (item) {
    case 1: for (size_t k = 0; k < n; k++) dst[k * di] = src[k * si]; break;
    case 2: for (size_t k = 0; k < n; k++) ((uint16_t *)dst)[k * di] = ((const uint16_t *)src)[k * si]; break;
    case 4: for (size_t k = 0; k < n; k++) ((uint32_t *)dst)[k * di] = ((const uint32_t *)src)[k * si]; break;
    default: for (size_t k = 0; k < n; k++) ((uint64_t *)dst)[k * di] = ((const uint64_t *)src)[k * si]; break;
    }
}

static int split(const char *name) {
    struct image im = load(name, READONLY);
    size_t cw = im.width / 4;
    unsigned char *part = allocate(cw * im.height * im.item);
    for (int c = 0; c < 4; c++) {
        char out[4096];
        fitsfile *f = NULL;
        int status = 0;
        long naxes[2] = {(long)cw, (long)im.height}, first[2] = {1, 1};
        channel_name(out, sizeof out, name, c);
        for (size_t y = 0; y < im.height; y++)
            deal(part + y * cw * im.item, im.pixels + (y * im.width + (size_t)c) * im.item, cw, im.item, 1);
        unlink(out);
        if (fits_create_diskfile(&f, out, &status) || fits_copy_header(im.file, f, &status) ||
            fits_resize_img(f, im.bitpix, 2, naxes, &status) ||
            fits_update_key(f, TINT, "ZPREMPCH", &(int){c + 1}, "PREAMP CHANNEL NUMBER (1-4)", &status) ||
            fits_set_hdustruc(f, &status) || fits_set_bscale(f, 1.0, 0.0, &status))
            die("create", out, status);
        size_t count = cw * im.height;
        if (count > 0 && fits_write_pix(f, im.type, first, (LONGLONG)count, part, &status))
            die("write", out, status);
        if (fits_close_file(f, &status))
            die("close", out, status);
    }
    free(part);
    int status = 0;
    fits_close_file(im.file, &status);
    free(im.pixels);
    return 0;
}

static int merge(const char *name) {
    struct image im = load(name, READWRITE);
    for (int c = 0; c < 4; c++) {
        char in[4096];
        channel_name(in, sizeof in, name, c);
        struct image ch = load(in, READONLY);
        if (ch.type != im.type) {
            fprintf(stderr, "cfitsio_peer: %s: BITPIX %d, the image's is %d\n", in, ch.bitpix, im.bitpix);
            exit(1);
        }
        size_t slots = (im.width + 3 - (size_t)c) / 4;
        size_t cols = ch.width < slots ? ch.width : slots;
        size_t rows = ch.height < im.height ? ch.height : im.height;
        for (size_t y = 0; y < rows; y++)
            deal(im.pixels + (y * im.width + (size_t)c) * im.item, ch.pixels + y * ch.width * im.item, cols,
                 im.item, 0);
        int status = 0;
        fits_close_file(ch.file, &status);
        free(ch.pixels);
    }
    store(&im, name);
    return 0;
}

static double item_at(const struct image *im, size_t i) {
    const unsigned char *p = im->pixels + i * im->item;
    switch (im->bitpix) {
    case 8: return *p;
    case 16: return *(const int16_t *)p;
    case 32: return *(const int32_t *)p;
    case -32: return *(const float *)p;
    }
    return *(const double *)p;
}

/* Integers truncated toward zero, as a C conversion does. */
static void set_item(struct image *im, size_t i, double v) {
    unsigned char *p = im->pixels + i * im->item;
    switch (im->bitpix) {
    case 8: *p = (uint8_t)v; break;
    case 16: *(int16_t *)p = (int16_t)v; break;
    case 32: *(int32_t *)p = (int32_t)v; break;
    case -32: *(float *)p = (float)v; break;
    default: *(double *)p = v; break;
    }
}

static long clamp(long v, long n) {
    return v < 1 ? 1 : v > n - 1 ? n - 1 : v;
}

static int patch(long x1, long x2, long y1, long y2, const char *name) {
    struct image im = load(name, READWRITE);
    long w = (long)im.width, h = (long)im.height;
    x1 = clamp(x1, w), x2 = clamp(x2, w), y1 = clamp(y1, h), y2 = clamp(y2, h);
    if (x1 > x2) { long t = x1; x1 = x2; x2 = t; }
    if (y1 > y2) { long t = y1; y1 = y2; y2 = t; }
    long n = x2 - x1 + 1;
    for (long y = y1; y <= y2; y++) {
        size_t row = (size_t)(y - 1) * im.width;
        /* L is column x1-1 and R column x2+1 (1-based); at the left edge L is R. */
        size_t right = row + (size_t)x2, left = x1 < 2 ? right : row + (size_t)(x1 - 2);
        if (im.bitpix == -64) {
            double l = item_at(&im, left), step = (item_at(&im, right) - l) / (double)n;
            for (long k = 1; k <= n; k++)
                set_item(&im, row + (size_t)(x1 - 2 + k), l + (double)k * step);
        } else {
            float l = (float)item_at(&im, left), step = ((float)item_at(&im, right) - l) / (float)n;
            for (long k = 1; k <= n; k++)
                set_item(&im, row + (size_t)(x1 - 2 + k), (float)(l + (float)k * step));
        }
    }
    store(&im, name);
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 3 && !strcmp(argv[1], "split"))
        return split(argv[2]);
    if (argc == 3 && !strcmp(argv[1], "merge"))
        return merge(argv[2]);
    if (argc == 7 && !strcmp(argv[1], "patch"))
        return patch(atol(argv[2]), atol(argv[3]), atol(argv[4]), atol(argv[5]), argv[6]);
    fprintf(stderr, "usage: cfitsio_peer split IMAGE | merge IMAGE | patch X1 X2 Y1 Y2 IMAGE\n");
    return 1;
}
