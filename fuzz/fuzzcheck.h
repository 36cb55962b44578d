// What every fuzz target shares: a check whose failure is a crash the fuzzer keeps, and
// the reading of operands out of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// A wrong answer is reported like a crash, with the reason on stderr.
#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__);                                                    \
            __builtin_trap();                                                          \
        }                                                                              \
    } while (0)

// The input read front to back; past its end every read gives zeros.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // A text of up to max bytes, its length from the first byte.
    std::string text(size_t max = 32)
    {
        const size_t want = byte() % (max + 1);
        const size_t take = want < size_ - pos_ ? want : size_ - pos_;
        std::string out(reinterpret_cast<const char *>(data_) + pos_, take);
        pos_ += take;
        return out;
    }
    // The rest of the input.
    std::string rest()
    {
        std::string out(reinterpret_cast<const char *>(data_) + pos_, size_ - pos_);
        pos_ = size_;
        return out;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};
