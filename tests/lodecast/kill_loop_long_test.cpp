// The long version of the kill test (ctest label "long"; the quick suite
// kills five runs, in memory): sixty runs over a world of 256 chunks on the
// disk, each killed at a random moment, often while a chunk is being synced,
// and no chunk lost or damaged by any of them.
#include "support/kill_loop.h"
#include "support/run.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <gtest/gtest.h>

#ifdef LODECAST_EXE

TEST(KillLoopLong, SixtyKilledRunsNeverLoseAChunk) {
    constexpr int kRuns = 60;
    TempDir tmp;
    const std::string world = tmp.file("world");
#ifdef LODECAST_MKWORLD_EXE
    const RunResult made = run_program(LODECAST_MKWORLD_EXE, {world, "16"});
    ASSERT_EQ(made.status, 0) << made.err;
#else
    write_generated_world(world, 16);
#endif
    const KillLoopStats s = kill_loop(LODECAST_EXE, world, kRuns, 20261207);
    std::printf("[ kill     ] %d killed, %d finished first, %d chunks rewritten before a kill, "
                "%d temporary files left by kills, %d chunk checks\n",
                s.kills, s.finished, s.rewritten, s.temps_after_kill, s.files_checked);
    EXPECT_EQ(s.kills + s.finished, kRuns);
    // Delays spread over a whole run: most runs must really be cut short.
    EXPECT_GT(s.kills, kRuns / 2);
}

#else

TEST(KillLoopLong, NeedsTheTool) {
    GTEST_SKIP() << "the lodecast executable is not built";
}

#endif
