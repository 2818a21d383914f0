#include <gtest/gtest.h>
TEST(Xlsx, Placeholder) {}
