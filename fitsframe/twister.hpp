// The 32-bit Mersenne Twister, MT19937: the sequence of std::mt19937 for the
// same seed, with its state in 624 32-bit words (2.5 KB), so that a frame's
// generator can keep one state per image column.
#pragma once

#include <array>
#include <cstdint>

class Twister {
public:
    using result_type = uint32_t;
    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return 0xFFFFFFFFu; }

    explicit Twister(uint32_t seed) {
        words_[0] = seed;
        for (uint32_t i = 1; i < kWords; ++i) words_[i] = 1812433253u * (words_[i - 1] ^ (words_[i - 1] >> 30)) + i;
        next_ = kWords;
    }

    result_type operator()() {
        if (next_ >= kWords) twist();
        uint32_t z = words_[next_++];
        z ^= z >> 11;
        z ^= (z << 7) & 0x9D2C5680u;
        z ^= (z << 15) & 0xEFC60000u;
        return z ^ (z >> 18);
    }

private:
    static constexpr uint32_t kWords = 624;
    static constexpr uint32_t kShift = 397;

    static uint32_t mixed(uint32_t upper, uint32_t lower, uint32_t far) {
        const uint32_t y = (upper & 0x80000000u) | (lower & 0x7FFFFFFFu);
        return far ^ (y >> 1) ^ ((y & 1u) ? 0x9908B0DFu : 0u);
    }

    void twist() {
        uint32_t i = 0;
        for (; i < kWords - kShift; ++i) words_[i] = mixed(words_[i], words_[i + 1], words_[i + kShift]);
        for (; i < kWords - 1; ++i) words_[i] = mixed(words_[i], words_[i + 1], words_[i + kShift - kWords]);
        words_[kWords - 1] = mixed(words_[kWords - 1], words_[0], words_[kShift - 1]);
        next_ = 0;
    }

    std::array<uint32_t, kWords> words_;
    uint32_t next_;
};
