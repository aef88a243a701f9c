#include "publisher/progress_bar.h"

#include <gtest/gtest.h>

namespace orvantis {
namespace {

TEST(ProgressBar, FillsInProportionAndNeverOverflows) {
    struct Row {
        uint64_t done, total;
        const char* expected;
    } rows[] = {
        {0, 1048576, "x [..........]   0%  0.0/1.0 MiB  0.0 MiB/s"},
        {524288, 1048576, "x [#####.....]  50%  0.5/1.0 MiB  0.2 MiB/s"},
        {1048576, 1048576, "x [##########] 100%  1.0/1.0 MiB  0.5 MiB/s"},
        {2097152, 1048576, "x [##########] 100%  1.0/1.0 MiB  0.5 MiB/s"},  // more than announced
        {0, 0, "x [##########] 100%  0.0/0.0 MiB  0.0 MiB/s"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(ProgressLine("x", row.done, row.total, 2.0, 10), row.expected);
    }
}

TEST(ProgressBar, DrawsNothingWhenNotOnATerminal) {
    ProgressBar bar;
    ProgressBegin(bar, "x", 100, false);
    ProgressAdd(bar, 50);
    EXPECT_FALSE(bar.drawn);
    EXPECT_EQ(bar.done, 50u);
}

}  // namespace
}  // namespace orvantis
