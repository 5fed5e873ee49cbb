// fitspreview's picture read from its images as a stream of rows: a region
// of one image, or of two side by side with black columns between them, at
// full size or shrunk to a thumbnail whose every pixel is the mean of a block
// of image pixels.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "picture_image.hpp"
#include "picture_source.hpp"

// Columns x1..x2 and rows y1..y2, counted from 1.
struct Region {
    int32_t x1 = 1, x2 = std::numeric_limits<int32_t>::max();
    int32_t y1 = 1, y2 = std::numeric_limits<int32_t>::max();
    int64_t width() const { return int64_t{x2} - x1 + 1; }
    int64_t height() const { return int64_t{y2} - y1 + 1; }
};

constexpr int64_t kGap = 4;  // NaN (black) picture columns between two images side by side

class ImagePicture : public PictureSource {
public:
    // The region (within every image) of each image, side by side in the
    // order given; each picture pixel the mean of the finite values shown
    // (BSCALE and BZERO applied) among `shrink` x `shrink` image pixels
    // (NaN when there is none), blocks
    // counted from the region's first row and column, so that those of the
    // last row and column may be partial. A shrink of 1 shows every pixel as
    // it is.
    ImagePicture(const std::vector<PictureImage*>& images, const Region& region, int64_t shrink);

    int64_t width() const override { return width_; }
    int64_t height() const override { return height_; }
    // A thumbnail's values are means of the values shown, already scaled.
    Scale scale() const override { return shrink_ > 1 ? Scale{} : images_.front()->scale; }
    KeyKind key_kind() const override;
    std::vector<std::pair<int64_t, int64_t>> finite_columns() const override;
    void rows(int64_t first, int64_t last, bool top_down, int64_t c0, int64_t c1, const RowVisitor& visit) override;

private:
    // One image's part of a row: its items, and for a thumbnail the sums
    // and counts of the finite values of each region column over the rows
    // of the block row taken so far.
    struct Part {
        PictureImage* image;
        int64_t first_column;  // of the picture
        bool all_finite;       // every value shown is finite (integers, scaled within range)
        std::vector<uint8_t> band;
        std::vector<double> line;
        std::vector<double> sums;
        std::vector<long double> wide_sums;  // instead, when a sum may pass the largest double
        std::vector<int64_t> counts;         // unless all_finite
        int64_t rows_taken = 0;
        int64_t p0 = 0, p1 = 0;  // picture columns of the part wanted, from its first
    };
    void read_band(Part& part, int64_t first, int64_t count);
    void take_row(Part& part, const uint8_t* items);
    void put_means(Part& part);

    std::vector<Part> parts_;
    std::vector<PictureImage*> images_;
    Region region_;
    int64_t shrink_;
    int64_t part_width_;
    int64_t width_;
    int64_t height_;
    int64_t band_rows_;
    std::vector<double> row_;
};
