#pragma once
// Option values, checked before CLI11 converts them, so that every message says
// the allowed range in plain numbers and tells text that is no number apart.

#include <CLI/CLI.hpp>

#include <cstdint>

// A whole number from low to high: "-1 is not a whole number from 0 to 10".
CLI::Validator WholeNumberIn(int64_t low, int64_t high);
// A finite number from low to high: "nan is not a number from -90 to 90".
CLI::Validator NumberIn(double low, double high);
// A share of the triangles: finite, above 0, at most 1.
CLI::Validator ShareOfOne();
