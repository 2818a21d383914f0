// The quick text of number cells must be the general format's text for every value: prices
// with two to four decimals, whole numbers, and doubles from all over the range.
#include "source/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "core/text.h"

namespace qm::source {
namespace {

TEST(NumberText, SameAsTheGeneralFormat) {
  std::vector<double> values = {0.1 + 0.2,
                                1e-5,
                                1.5e-5,
                                1e-6,
                                1.25e-6,
                                9.99e14,
                                1e15,
                                1.5e15,
                                123456789012345.0,
                                1234567890123456.0,
                                0.30000000000000004,
                                5e-324,
                                std::numeric_limits<double>::max(),
                                1.0 / 3,
                                2.0 / 3,
                                -0.0,
                                0.0,
                                100,
                                1e14,
                                99999999999999.9,
                                0.000012345};
  for (int n = -5000; n <= 5000; ++n) {
    values.push_back(n / 100.0);
    values.push_back(n / 1000.0);
    values.push_back(n * 0.0001);
    values.push_back(n * 1.1);
    values.push_back(n * 123456.789);
  }
  std::mt19937_64 rng(7);
  for (int i = 0; i < 50000; ++i) {
    std::uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d)) values.push_back(d);
    // Ordinary magnitudes, where the quick path is taken.
    values.push_back(std::ldexp(static_cast<double>(rng() >> 11), -static_cast<int>(rng() % 80)));
  }
  for (double v : values) ASSERT_EQ(number_text(v), format_general(v)) << v;
}

}  // namespace
}  // namespace qm::source
