// The synthetic frame of fitsframe, generated band by band of rows: sky with
// a gentle gradient, stars, photon noise, each channel's bias and read noise,
// hot columns and a bad box of saturated pixels in channel b.
//
// The random numbers are drawn column by column, as the frame was first made
// in a whole image plane, so that a seed gives the same frame whatever the
// band: the generator runs through the noise once to note where each column's
// numbers begin (one state per column, 2.5 KB each) and which columns come
// out hot, then draws each band's numbers from those states.
#pragma once

#include <cstdint>
#include <vector>

#include "twister.hpp"

struct FrameSpec {
    int32_t width = 2048;
    int32_t height = 2048;
    uint32_t seed = 1;
};

// The bad box in channel b's own columns and rows, counted from 1 as
// boxpatch takes them.
struct ChannelBox {
    int32_t x1, x2, y1, y2;
};

ChannelBox bad_box(const FrameSpec& frame);

// The bias level of channel c (0..3), in ADU.
double channel_bias(int channel);

class FrameGenerator {
public:
    explicit FrameGenerator(const FrameSpec& frame);

    // The values of rows first..first + count - 1 (from 0, taken in order of
    // rows, each band after the one before), column by column:
    // values[x * count + y - first]; whole numbers 0..65535 less BZERO 32768.
    void band(int32_t first, int32_t count, std::vector<float>& values);

private:
    struct Star {
        double cx, cy, peak;
    };

    FrameSpec frame_;
    ChannelBox box_;
    std::vector<Star> stars_;
    std::vector<Twister> columns_;  // each column's generator, where its next row's numbers begin
    std::vector<int32_t> hot_;
};
