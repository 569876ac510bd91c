// Chunk arrays and scripted draws for the ore generation tests.
#ifndef TESTS_LODECAST_ORE_FIXTURES_H
#define TESTS_LODECAST_ORE_FIXTURES_H

#include "lodecast/ores/random.h"
#include "nbt/nbt.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <utility>
#include <vector>

// A chunk's block and data arrays, every block set to one id. The
// nbt_byte_array views point into the vectors, so the object stays put.
class test_chunk {
  public:
    explicit test_chunk(unsigned char fill, unsigned char data_fill = 0)
        : blocks(32768, fill), data(16384, data_fill) {
        arr = nbt_byte_array{32768, blocks.data()};
        dat = nbt_byte_array{16384, data.data()};
    }
    test_chunk(const test_chunk &) = delete;
    test_chunk &operator=(const test_chunk &) = delete;

    // Spelled out here rather than shared with the code under test, so a
    // fault in the layout shows as a mismatch.
    unsigned char &block(int x, int y, int z) { return blocks[(x * 16 + z) * 128 + y]; }

    std::vector<unsigned char> blocks;
    std::vector<unsigned char> data;
    nbt_byte_array arr;
    nbt_byte_array dat;
};

// Feeds the given draws to the generator while alive and counts how many
// were taken. Asking for more than were scripted fails the test.
class scripted_draws {
  public:
    explicit scripted_draws(std::vector<int> draws) : draws_(std::move(draws)) {
        set_draw_source([this] {
            if (used_ >= draws_.size()) {
                ADD_FAILURE() << "more than " << draws_.size() << " draws taken";
                return 0;
            }
            return draws_[used_++];
        });
    }
    ~scripted_draws() { reset_draw_source(); }
    scripted_draws(const scripted_draws &) = delete;
    scripted_draws &operator=(const scripted_draws &) = delete;

    size_t used() const { return used_; }

  private:
    std::vector<int> draws_;
    size_t used_ = 0;
};

#endif
