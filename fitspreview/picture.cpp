#include "picture.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
// Columns wanted that make less than this share of a row (1 / kNarrowShare)
// are read item by item range rather than as whole rows.
constexpr int64_t kNarrowShare = 8;

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

// Adds the shown values of `raw` to the column sums, and counts the finite
// ones unless `counts` is null (all are known to be finite).
template <typename Sum>
void add_to_columns(const double* raw, int64_t n, const Scale& scale, Sum* sums, int64_t* counts) {
    if (counts == nullptr) {
        for (int64_t i = 0; i < n; ++i) sums[i] += scale.shown(raw[i]);
        return;
    }
    for (int64_t i = 0; i < n; ++i) {
        const double v = scale.shown(raw[i]);
        const bool finite = std::fabs(v) <= std::numeric_limits<double>::max();
        sums[i] += finite ? v : 0.0;
        counts[i] += finite ? 1 : 0;
    }
}

// The mean of columns [first, end) of the sums, which start again; NaN when
// they hold no finite value.
template <typename Sum>
double block_mean(Sum* sums, int64_t* counts, int64_t first, int64_t end, int64_t rows) {
    Sum sum = 0;
    int64_t count = counts == nullptr ? rows * (end - first) : 0;
    for (int64_t c = first; c < end; ++c) {
        sum += sums[c];
        sums[c] = 0;
        if (counts == nullptr) continue;
        count += counts[c];
        counts[c] = 0;
    }
    return count > 0 ? static_cast<double>(sum / static_cast<Sum>(count)) : std::numeric_limits<double>::quiet_NaN();
}

// Integers of at most 32 bits lie within the extreme items, whose shown
// values bound every other's.
bool all_finite(const PictureImage& image) {
    const Scale s = image.scale;
    return image.header.bytes_per_pixel > 0 && std::isfinite(s.shown(-2147483648.0)) &&
           std::isfinite(s.shown(2147483647.0));
}

// Whether the sum of a block's shown values may pass the largest double
// (double items, or items scaled up that far), so that it is kept in
// extended precision.
bool needs_wide_sums(const PictureImage& image, int64_t shrink) {
    double largest_item = std::numeric_limits<double>::max();
    switch (image.header.bytes_per_pixel) {
        case 1: largest_item = 255.0; break;
        case 2: largest_item = 32768.0; break;
        case 4: largest_item = 2147483648.0; break;
        case -4: largest_item = std::numeric_limits<float>::max(); break;
        default: break;
    }
    const double largest = std::fabs(image.scale.bscale) * largest_item + std::fabs(image.scale.bzero);
    return !(largest * static_cast<double>(shrink) * static_cast<double>(shrink) < std::numeric_limits<double>::max());
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
            const size_t columns = static_cast<size_t>(region_.width());
            if (needs_wide_sums(*images_[i], shrink_))
                part.wide_sums.assign(columns, 0.0L);
            else
                part.sums.assign(columns, 0.0);
            if (!part.all_finite) part.counts.assign(columns, 0);
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
// full size, into the columns' sums for a thumbnail.
void ImagePicture::take_row(Part& part, const uint8_t* items) {
    const int bytes_per_pixel = part.image->header.bytes_per_pixel;
    const int64_t item_size = part.image->input.item_size;
    const int64_t first = part.p0 * shrink_;  // region column
    const int64_t n = std::min(part.p1 * shrink_, region_.width()) - first;
    const uint8_t* wanted = items + (region_.x1 - 1 + first) * item_size;
    if (shrink_ == 1) {
        fits_items_to_doubles(bytes_per_pixel, wanted, &row_[static_cast<size_t>(part.first_column + part.p0)],
                              static_cast<size_t>(n));
        return;
    }
    fits_items_to_doubles(bytes_per_pixel, wanted, part.line.data(), static_cast<size_t>(n));
    int64_t* counts = part.counts.empty() ? nullptr : &part.counts[static_cast<size_t>(first)];
    if (part.wide_sums.empty())
        add_to_columns(part.line.data(), n, part.image->scale, &part.sums[static_cast<size_t>(first)], counts);
    else
        add_to_columns(part.line.data(), n, part.image->scale, &part.wide_sums[static_cast<size_t>(first)], counts);
    ++part.rows_taken;
}

// Image rows first..first + count - 1 into the part's band: whole, or only
// the items of the columns wanted when they are a small part of each row
// (the few pixels that zscale samples, say).
void ImagePicture::read_band(Part& part, int64_t first, int64_t count) {
    FitsInput& input = part.image->input;
    const int64_t x0 = region_.x1 - 1 + part.p0 * shrink_;
    const int64_t n = std::min(part.p1 * shrink_, region_.width()) - part.p0 * shrink_;
    if (n * input.item_size * kNarrowShare >= input.row_bytes) {
        input.next_row = first;
        fits_read_rows(input, part.band.data(), count);
        return;
    }
    for (int64_t k = 0; k < count; ++k)
        fits_read_row_items(input, first + k, x0, n, &part.band[static_cast<size_t>(k * input.row_bytes + x0 * input.item_size)]);
}

// The means of the blocks into the row; the sums start again.
void ImagePicture::put_means(Part& part) {
    int64_t* counts = part.counts.empty() ? nullptr : part.counts.data();
    for (int64_t p = part.p0; p < part.p1; ++p) {
        const int64_t first = p * shrink_, end = std::min(first + shrink_, region_.width());
        row_[static_cast<size_t>(part.first_column + p)] =
            part.wide_sums.empty() ? block_mean(part.sums.data(), counts, first, end, part.rows_taken)
                                   : block_mean(part.wide_sums.data(), counts, first, end, part.rows_taken);
    }
    part.rows_taken = 0;
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
        for (Part* part : wanted) read_band(*part, region_.y1 - 1 + band_first, count);
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
