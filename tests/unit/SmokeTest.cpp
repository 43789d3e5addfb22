#include <gtest/gtest.h>
#include "SimMachine.h"
#include "StubCore.h"
TEST(Smoke, Runs) {
  simwin::Machine m;
  auto o = simwin::Run(m, [] { Stub98Main(); });
  ASSERT_FALSE(o.crashed);
  EXPECT_TRUE(o.exited);
}
