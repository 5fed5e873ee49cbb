// What fitspreview's cuts and pictures read: the picture's values, row by
// row, streamed from wherever they come from (the images, or memory in the
// tests), never held whole.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

// The values the file stands for are raw * bscale + bzero. The picture's
// values are raw (items, or means of items); the cuts and grey levels are
// taken from the values shown, scaled.
struct Scale {
    double bscale = 1.0;
    double bzero = 0.0;
    double shown(double raw) const { return raw * bscale + bzero; }
};

// How raw values are ordered by radix keys: the item type when every value
// is an item of it, any double otherwise.
enum class KeyKind { u8, i16, i32, f32, f64 };

// Receives picture row `row` (0 is the bottom row): `values` holds the
// picture's width of raw values; only the columns asked for are filled.
using RowVisitor = std::function<void(int64_t row, const double* values)>;

class PictureSource {
public:
    virtual ~PictureSource() = default;
    virtual int64_t width() const = 0;
    virtual int64_t height() const = 0;
    virtual Scale scale() const = 0;
    virtual KeyKind key_kind() const = 0;
    // The spans of columns [first, end) whose values are finite when shown
    // in every row, when that is known without reading (images of
    // integers); empty otherwise. The columns outside them are NaN.
    virtual std::vector<std::pair<int64_t, int64_t>> finite_columns() const = 0;
    // Visits rows first..last-1, from the bottom up or from the top down,
    // filling columns c0..c1-1 of each.
    virtual void rows(int64_t first, int64_t last, bool top_down, int64_t c0, int64_t c1, const RowVisitor& visit) = 0;

    // Every row, every column, from the bottom up.
    void all_rows(const RowVisitor& visit) { rows(0, height(), false, 0, width(), visit); }
};
