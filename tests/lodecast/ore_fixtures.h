// Chunk arrays and scripted draws for the ore generation tests.
#ifndef TESTS_LODECAST_ORE_FIXTURES_H
#define TESTS_LODECAST_ORE_FIXTURES_H

#include "lodecast/ores/random.h"
#include "lodecast/ores/vein.h"
#include "lodecast/storage/flat_storage.h"
#include "nbt/nbt.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
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

// A flat chunk's arrays as a run carves into them: the flat storage kind's
// grid, begun with ore_id prepared from opt. Null when the chunk cannot
// take the ore (-d without a whole data array).
inline std::unique_ptr<block_grid> begun_flat_grid(nbt_byte_array *arr, nbt_byte_array *dat,
                                                   int ore_id, const options &opt) {
    static const flat_storage kind;
    ore_plan ore;
    ore.block.id = ore_id;
    ore.opt = opt;
    static std::unique_ptr<prepared_ore> prepared; // lives as long as the grid uses it
    prepared = kind.prepare(ore);
    std::unique_ptr<block_grid> grid = flat_grid(arr, dat);
    return grid->begin(*prepared) ? std::move(grid) : nullptr;
}

// One block placed as a run places it; true when it became ore.
inline bool place_flat(nbt_byte_array *arr, nbt_byte_array *dat, int x, int y, int z, int ore_id,
                       const options &opt) {
    std::unique_ptr<block_grid> grid = begun_flat_grid(arr, dat, ore_id, opt);
    return grid != nullptr && grid->place(x, y, z);
}

// One vein of ore_id carved into a flat chunk's arrays.
inline void carve_flat(nbt_byte_array *arr, nbt_byte_array *dat, int ore_id, const options &opt,
                       placement_count *placed = nullptr) {
    std::unique_ptr<block_grid> grid = begun_flat_grid(arr, dat, ore_id, opt);
    ASSERT_NE(grid, nullptr);
    gen_ore(*grid, &opt, placed);
}

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
