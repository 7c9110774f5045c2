#include "box/Worker.h"

#include <gtest/gtest.h>

// The suite's own main: the checks and file-system reads that the tests run are made in worker
// processes started from this program, as morrow-cli starts them from itself.
int main(int argc, char** argv) {
    morrow::box::serveIfAsked(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
