// Writes the seeds of the fuzz targets with the library itself:
//   make_seeds <folder>   (fills <folder>/reader, cards and boxpatch_args)
// fuzz/run.sh --merge merges them into the kept corpus (fuzz/corpus/).
// The images are small headers built by the card writers (as quadsplit
// edits them) and data written by fits_write.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "fits.hpp"

namespace {

struct ImageSeed {
    const char* name;
    int16_t bitpix;
    int16_t naxis1, naxis2;
    int extra_cards;  // HISTORY cards inserted before END (36 or more: two blocks)
    bool quadsplit;   // read in quadsplit's configuration
};

const ImageSeed kImages[] = {
    {"u8", 8, 6, 3, 0, false},       {"i16", 16, 6, 3, 0, false},   {"i32", 32, 5, 2, 2, false},
    {"f32", -32, 7, 3, 0, false},    {"f64", -64, 6, 2, 0, true},   {"long_header", 16, 9, 4, 40, false},
    {"i16_split", 16, 8, 3, 1, true},
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void save(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The bytes of a small image file made by the library.
std::string image_file(const ImageSeed& seed, ImagePlane& plane, const std::string& scratch) {
    FitsHeader h;
    h.bitpix = seed.bitpix;
    h.naxis1 = seed.naxis1;
    h.naxis2 = seed.naxis2;
    h.bscale = 1.0;
    h.bzero = seed.bitpix == 16 ? 32768.0 : 0.0;
    fits_make_header(h);
    for (int i = 0; i < seed.extra_cards; ++i) fits_insert_card("HISTORY", std::to_string(i).c_str(), "seed", h);
    h.npixels = static_cast<int64_t>(h.naxis1) * h.naxis2;
    for (int x = 0; x < h.naxis1; ++x)
        for (int y = 0; y < h.naxis2; ++y) plane[x][y] = static_cast<float>(x * 10 + y) - 7.5f;
    fits_write(scratch.c_str(), h, plane);
    fits_free_header(h);
    return slurp(scratch);
}

std::string cards_input(uint8_t n, const std::string& key, const std::string& value, const std::string& comment,
                        const std::string& header) {
    std::string out{static_cast<char>(n), static_cast<char>(key.size()), static_cast<char>(value.size()),
                    static_cast<char>(comment.size())};
    return out + key + value + comment + header;
}

std::string args_input(uint8_t naxis1, uint8_t naxis2, const std::vector<std::string>& args) {
    std::string out{static_cast<char>(naxis1), static_cast<char>(naxis2)};
    for (size_t i = 0; i < args.size(); ++i) out += (i ? std::string(1, '\0') : "") + args[i];
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::puts("usage: make_seeds <corpus folder>");
        return 1;
    }
    const std::string root = argv[1];
    for (const char* sub : {"", "/reader", "/cards", "/boxpatch_args"}) ::mkdir((root + sub).c_str(), 0755);
    void* mapped = ::mmap(nullptr, sizeof(ImagePlane), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    auto& plane = *static_cast<ImagePlane*>(mapped);
    const std::string scratch = root + "/.seed.fits";

    std::string long_header;
    std::string short_header;
    for (const ImageSeed& seed : kImages) {
        fits_set_config(seed.quadsplit ? FitsConfig::quadsplit : FitsConfig::common);
        const std::string file = image_file(seed, plane, scratch);
        save(root + "/reader/" + seed.name, std::string(1, seed.quadsplit ? '\1' : '\0') + file);
        if (seed.extra_cards >= CARDS_PER_BLOCK) long_header = file.substr(0, 2 * FITS_BLOCK);
        if (seed.extra_cards == 0 && short_header.empty()) short_header = file.substr(0, FITS_BLOCK);
    }
    ::unlink(scratch.c_str());

    save(root + "/cards/naxis1", cards_input(85, "NAXIS1", "2", "PIXELS ON 1ST MOST VARYING AXIS", short_header));
    save(root + "/cards/end_n4", cards_input(4, "END", "1", "", short_header));
    save(root + "/cards/history_two_blocks", cards_input(0, "HISTORY", "39", "x", long_header));
    save(root + "/cards/missing_key", cards_input(85, "ZPREMPCH", "1", "PREAMP CHANNEL NUMBER (1-4)", long_header));

    save(root + "/boxpatch_args/box", args_input(30, 12, {"-b", "10", "20", "5", "8", "a.fits"}));
    save(root + "/boxpatch_args/two_boxes",
         args_input(0x81, 7, {"-b", "0x10", "010", "-3", "9th", "a.fits", "", "-bx", "4", "x", "2", "1", "b.fits"}));
    save(root + "/boxpatch_args/too_few", args_input(2, 2, {"-v", "-", "a.fits", "-b", "1", "2"}));
    return 0;
}
