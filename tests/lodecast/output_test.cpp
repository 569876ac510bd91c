// The message layer: direct printing, capture into a chunk's buffer,
// nesting, and messages longer than its small formatting buffer.
#include "lodecast/pipeline/output.h"
#include "lodecast/pipeline/run_summary.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(Output, PrintsToStandardErrorWithoutCapture) {
    testing::internal::CaptureStderr();
    out_printf("Stat failed on %s\n", "w/0");
    out_write("raw bytes\n");
    out_write("");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Stat failed on w/0\nraw bytes\n");
}

TEST(Output, CaptureAppendsAndNests) {
    std::string outer = "kept:";
    std::string inner;
    testing::internal::CaptureStderr();
    {
        output_capture a(&outer);
        out_printf("Generating round %d...\n", 3);
        {
            output_capture b(&inner);
            out_printf("Added block at %d,%d,%d\n", 1, 2, 3);
            {
                output_capture direct(nullptr);
                out_printf("direct\n");
            }
        }
        out_printf("%s", "back\n");
    }
    out_printf("after\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "direct\nafter\n");
    EXPECT_EQ(outer, "kept:Generating round 3...\nback\n");
    EXPECT_EQ(inner, "Added block at 1,2,3\n");
}

TEST(Output, LongMessagesAreCapturedWhole) {
    for (size_t len : {size_t{200}, size_t{255}, size_t{256}, size_t{5000}}) {
        const std::string path(len, 'p');
        std::string buf = "x";
        {
            output_capture c(&buf);
            out_printf("File \"%s\" is not a valid chunk\n", path.c_str());
        }
        EXPECT_EQ(buf, "xFile \"" + path + "\" is not a valid chunk\n") << len;
    }
}

TEST(Output, CaptureBelongsToItsThread) {
    std::string mine;
    std::string theirs;
    output_capture c(&mine);
    std::thread t([&] {
        output_capture other(&theirs);
        out_printf("worker\n");
    });
    t.join();
    out_printf("walk\n");
    EXPECT_EQ(mine, "walk\n");
    EXPECT_EQ(theirs, "worker\n");
}

// Only the reasons that left a chunk alone are listed; counts are grouped
// by thousands, names escaped, and a dry run speaks of what it would do.
TEST(Output, SummaryOfARun) {
    run_summary s;
    s.seen = 1234567;
    s.updated = 1000;
    s.recorded = 3;
    s.unchanged = 1233564;
    s.ores = {"Coal", "mod:\x1b[2Jore"};
    s.placed = {12345, 0};
    EXPECT_EQ(summary_text(s, 61.25, false),
              "Chunks updated: 1,000 of 1,234,567 in 61.2 s\n"
              "Left alone: 3 already recorded, 1,233,564 where the veins placed nothing\n"
              "Blocks placed: Coal 12,345, mod:\\x1b[2Jore 0\n");
    s = run_summary{};
    s.seen = 4;
    s.filtered = 1;
    s.unfinished = 2;
    s.failed = 1;
    EXPECT_EQ(summary_text(s, 0, true), "Chunks that would be updated: 0 of 4 in 0.0 s\n"
                                        "Left alone: 1 outside the filters, 2 not finished by the "
                                        "game, 1 could not be read or written\n"
                                        "Blocks it would place: \n");
}

} // namespace
