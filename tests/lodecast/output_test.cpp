// The message layer: direct printing, capture into a chunk's buffer,
// nesting, and messages longer than its small formatting buffer.
#include "lodecast/pipeline/output.h"

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

} // namespace
