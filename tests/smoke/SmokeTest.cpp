#include <gtest/gtest.h>
#include "support/TestSupport.h"
TEST_CHILD(exit7) { (void)argc; (void)argv; return 7; }
TEST(Smoke, ChildRuns) {
    auto r = testsupport::RunCapture(testsupport::ChildCommand(L"exit7"));
    EXPECT_TRUE(r.started);
    EXPECT_EQ(7u, r.exitCode);
}
