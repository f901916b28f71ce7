#include "cli/OptionChecks.h"

#include <array>
#include <charconv>
#include <cmath>
#include <functional>
#include <string>

namespace {

// The shortest text that reads back as value: 0.01, not 0.010000.
std::string plainNumber(double value)
{
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return std::string(text.data(), end);
}

// Reads the whole of text as a finite or infinite double; false for other text.
bool readNumber(const std::string& text, double& value)
{
    const char* first = text.data() + (text.starts_with('+') ? 1 : 0);
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(first, end, value);
    if (error == std::errc::result_out_of_range) value = std::numeric_limits<double>::infinity();
    return stop == end && (error == std::errc() || error == std::errc::result_out_of_range);
}

// A check of a number's text: "is not a number" for text that is none, else
// "<text> is not <what>" when inRange refuses its value.
CLI::Validator numberCheck(std::string what, std::function<bool(double)> inRange)
{
    return CLI::Validator(
        [what, inRange](std::string& text) -> std::string {
            double value = 0;
            if (!readNumber(text, value)) return "\"" + text + "\" is not a number";
            if (!std::isfinite(value) || !inRange(value)) return text + " is not " + what;
            return {};
        },
        what);
}

}  // namespace

CLI::Validator WholeNumberIn(int64_t low, int64_t high)
{
    const std::string what = "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [low, high, what](std::string& text) -> std::string {
            const char* first = text.data() + (text.starts_with('+') ? 1 : 0);
            const char* end = text.data() + text.size();
            int64_t value = 0;
            const auto [stop, error] = std::from_chars(first, end, value);
            if (stop != end || (error != std::errc() && error != std::errc::result_out_of_range)) {
                double number = 0;
                return "\"" + text + "\" is not " + (readNumber(text, number) ? "a whole number" : "a number");
            }
            if (error != std::errc() || value < low || value > high) return text + " is not " + what;
            return {};
        },
        "from " + std::to_string(low) + " to " + std::to_string(high));
}

CLI::Validator NumberIn(double low, double high)
{
    return numberCheck("a number from " + plainNumber(low) + " to " + plainNumber(high),
                       [low, high](double value) { return value >= low && value <= high; });
}

CLI::Validator ShareOfOne()
{
    return numberCheck("a number above 0 and at most 1", [](double value) { return value > 0.0 && value <= 1.0; });
}
