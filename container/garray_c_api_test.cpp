#include <gtest/gtest.h>

extern "C" int garray_c_round_trip(void);

namespace {

TEST(GarrayCApi, WorksFromC) { EXPECT_EQ(garray_c_round_trip(), 1); }

}  // namespace
