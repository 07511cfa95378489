// Seeded random cases for the property tests: the seed is printed, the
// number of cases comes from VANTOR_PROPERTY_CASES (default given by the
// test) and VANTOR_PROPERTY_SEED replaces the seed.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

namespace vantor::motion::testing {

inline int PropertyCaseCount(int defaultCount) {
  if (const char* text = std::getenv("VANTOR_PROPERTY_CASES")) {
    const long count = std::strtol(text, nullptr, 10);
    if (count > 0 && count < 100000000) return static_cast<int>(count);
  }
  return defaultCount;
}

inline std::uint64_t PropertySeed(const std::string& testName, std::uint64_t defaultSeed) {
  std::uint64_t seed = defaultSeed;
  if (const char* text = std::getenv("VANTOR_PROPERTY_SEED")) {
    seed = std::strtoull(text, nullptr, 10);
  }
  std::cout << testName << ": seed " << seed << " (VANTOR_PROPERTY_SEED)" << std::endl;
  return seed;
}

// Draws biased toward the values where planning goes wrong: bounds, zero,
// ties and extreme ratios.
class CaseDrawer {
 public:
  explicit CaseDrawer(std::uint64_t seed) : engine_(seed) {}

  double LogUniform(double low, double high) {
    std::uniform_real_distribution<double> exponent(std::log(low), std::log(high));
    return std::exp(exponent(engine_));
  }

  double Uniform(double low, double high) {
    std::uniform_real_distribution<double> value(low, high);
    return value(engine_);
  }

  bool Chance(double probability) {
    std::bernoulli_distribution draw(probability);
    return draw(engine_);
  }

  template <typename T, std::size_t N>
  T Pick(const T (&choices)[N]) {
    std::uniform_int_distribution<std::size_t> index(0, N - 1);
    return choices[index(engine_)];
  }

  std::mt19937_64& Engine() { return engine_; }

 private:
  std::mt19937_64 engine_;
};

}  // namespace vantor::motion::testing
