#include "picture.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

// Adds the finite values of `line` to the sums and counts of their blocks
// of `shrink` values, block 0 taking line[0]; `all_finite` when they are
// known to be, which spares the test of each.
template <typename Sum>
void add_to_blocks(const double* line, int64_t n, int64_t shrink, bool all_finite, Sum* sums, int64_t* counts) {
    for (int64_t start = 0, block = 0; start < n; start += shrink, ++block) {
        const int64_t end = std::min(n, start + shrink);
        Sum sum = 0;
        int64_t count = 0;
        if (all_finite) {
            for (int64_t i = start; i < end; ++i) sum += line[i];
            count = end - start;
        } else {
            for (int64_t i = start; i < end; ++i) {
                const bool finite = std::fabs(line[i]) <= std::numeric_limits<double>::max();
                sum += finite ? line[i] : 0.0;
                count += finite ? 1 : 0;
            }
        }
        sums[block] += sum;
        counts[block] += count;
    }
}

// Integers of at most 32 bits lie within the extreme items, whose shown
// values bound every other's.
bool all_finite(const PictureImage& image) {
    const Scale s = image.scale;
    return image.header.bytes_per_pixel > 0 && std::isfinite(s.shown(-2147483648.0)) &&
           std::isfinite(s.shown(2147483647.0));
}

}  // namespace

ImagePicture::ImagePicture(const std::vector<PictureImage*>& images, const Region& region, int64_t shrink)
    : images_(images), region_(region), shrink_(std::max<int64_t>(1, shrink)) {
    part_width_ = ceil_div(region_.width(), shrink_);
    height_ = ceil_div(region_.height(), shrink_);
    width_ = static_cast<int64_t>(images_.size()) * part_width_ + (static_cast<int64_t>(images_.size()) - 1) * kGap;
    int64_t widest_row = 1;
    for (const PictureImage* image : images_) widest_row = std::max(widest_row, image->input.row_bytes);
    band_rows_ = std::min<int64_t>(fits_band_rows(widest_row), region_.height());
    for (size_t i = 0; i < images_.size(); ++i) {
        Part part{images_[i], static_cast<int64_t>(i) * (part_width_ + kGap), all_finite(*images_[i]), {}, {}, {}, {}, {}};
        part.band.resize(static_cast<size_t>(band_rows_ * images_[i]->input.row_bytes));
        if (shrink_ > 1) {
            part.line.resize(static_cast<size_t>(region_.width()));
            if (images_[i]->header.bytes_per_pixel == -8)
                part.wide_sums.assign(static_cast<size_t>(part_width_), 0.0L);
            else
                part.sums.assign(static_cast<size_t>(part_width_), 0.0);
            part.counts.assign(static_cast<size_t>(part_width_), 0);
        }
        parts_.push_back(std::move(part));
    }
    row_.assign(static_cast<size_t>(width_), kNaN);
}

KeyKind ImagePicture::key_kind() const {
    const int bytes_per_pixel = images_.front()->header.bytes_per_pixel;
    for (const PictureImage* image : images_)
        if (image->header.bytes_per_pixel != bytes_per_pixel || shrink_ > 1) return KeyKind::f64;
    switch (bytes_per_pixel) {
        case 1: return KeyKind::u8;
        case 2: return KeyKind::i16;
        case 4: return KeyKind::i32;
        case -4: return KeyKind::f32;
        default: return KeyKind::f64;
    }
}

std::vector<std::pair<int64_t, int64_t>> ImagePicture::finite_columns() const {
    std::vector<std::pair<int64_t, int64_t>> spans;
    for (const Part& part : parts_) {
        if (!part.all_finite) return {};  // means of finite values are finite too
        spans.emplace_back(part.first_column, part.first_column + part_width_);
    }
    return spans;
}

// One image row's items of the wanted columns: as they are into the row at
// full size, into the blocks' sums for a thumbnail.
void ImagePicture::take_row(Part& part, const uint8_t* items) {
    const int bytes_per_pixel = part.image->header.bytes_per_pixel;
    const int64_t item_size = part.image->input.item_size;
    const int64_t x0 = region_.x1 - 1 + part.p0 * shrink_;
    const int64_t n = std::min(part.p1 * shrink_, region_.width()) - part.p0 * shrink_;
    if (shrink_ == 1) {
        fits_items_to_doubles(bytes_per_pixel, items + x0 * item_size, &row_[static_cast<size_t>(part.first_column + part.p0)],
                              static_cast<size_t>(n));
        return;
    }
    double* line = part.line.data();
    fits_items_to_doubles(bytes_per_pixel, items + x0 * item_size, line, static_cast<size_t>(n));
    const Scale s = part.image->scale;
    if (s.bscale != 1.0 || s.bzero != 0.0)
        for (int64_t i = 0; i < n; ++i) line[i] = s.shown(line[i]);
    const size_t p0 = static_cast<size_t>(part.p0);
    if (part.wide_sums.empty())
        add_to_blocks(line, n, shrink_, part.all_finite, &part.sums[p0], &part.counts[p0]);
    else
        add_to_blocks(line, n, shrink_, part.all_finite, &part.wide_sums[p0], &part.counts[p0]);
}

// The means of the blocks into the row; the sums start again.
void ImagePicture::put_means(Part& part) {
    for (int64_t p = part.p0; p < part.p1; ++p) {
        const size_t i = static_cast<size_t>(p);
        double mean = kNaN;
        if (part.counts[i] > 0)
            mean = part.wide_sums.empty() ? part.sums[i] / static_cast<double>(part.counts[i])
                                          : static_cast<double>(part.wide_sums[i] / part.counts[i]);
        row_[static_cast<size_t>(part.first_column + p)] = mean;
        if (part.wide_sums.empty())
            part.sums[i] = 0.0;
        else
            part.wide_sums[i] = 0.0L;
        part.counts[i] = 0;
    }
}

void ImagePicture::rows(int64_t first, int64_t last, bool top_down, int64_t c0, int64_t c1, const RowVisitor& visit) {
    first = std::max<int64_t>(first, 0);
    last = std::min(last, height_);
    if (first >= last) return;
    // The parts' columns wanted; a part without any is not read.
    std::vector<Part*> wanted;
    for (Part& part : parts_) {
        part.p0 = std::clamp<int64_t>(c0 - part.first_column, 0, part_width_);
        part.p1 = std::clamp<int64_t>(c1 - part.first_column, 0, part_width_);
        if (part.p0 < part.p1) wanted.push_back(&part);
    }
    // Image rows from the region's first, [lo, hi).
    const int64_t lo = first * shrink_;
    const int64_t hi = std::min(last * shrink_, region_.height());
    for (int64_t done = 0; done < hi - lo; done += band_rows_) {
        const int64_t count = std::min(band_rows_, hi - lo - done);
        const int64_t band_first = top_down ? hi - done - count : lo + done;
        for (Part* part : wanted) {
            part->image->input.next_row = region_.y1 - 1 + band_first;
            fits_read_rows(part->image->input, part->band.data(), count);
        }
        for (int64_t k = 0; k < count; ++k) {
            const int64_t in_band = top_down ? count - 1 - k : k;
            const int64_t y = band_first + in_band;  // image row from the region's first
            for (Part* part : wanted) take_row(*part, part->band.data() + in_band * part->image->input.row_bytes);
            const bool block_done = top_down ? y % shrink_ == 0 : (y + 1) % shrink_ == 0 || y + 1 == region_.height();
            if (!block_done) continue;
            if (shrink_ > 1)
                for (Part* part : wanted) put_means(*part);
            visit(y / shrink_, row_.data());
        }
    }
}
