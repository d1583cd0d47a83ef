#include <gtest/gtest.h>
#include "sys.h"
TEST(Core, Placeholder) { EXPECT_EQ(sys_get_tickcount(), -1); }
