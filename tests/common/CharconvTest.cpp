// The shortest text of a double and its strict reading, as the engines write and read cell values: the same
// on every build (the WebAssembly one supplies both itself, common/wasm/Charconv.h).

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace {

std::string text(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    EXPECT_EQ(ec, std::errc());
    return std::string(buffer, end);
}

TEST(Charconv, WritesTheShortestTextFixedOnATie) {
    const struct {
        double value;
        const char* written;
    } rows[] = {
        {0.0, "0"},
        {-0.0, "-0"},
        {12, "12"},
        {0.1, "0.1"},
        {0.30000000000000004, "0.30000000000000004"},
        {1.923076923076923, "1.923076923076923"},
        {1200000, "1200000"}, // 7 characters either way: fixed
        {1e20, "1e+20"},
        {123456789012, "123456789012"},
        {0.001234, "0.001234"},
        {0.00001234, "1.234e-05"},
        {-2.5e-300, "-2.5e-300"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(text(r.value), r.written) << r.written;
}

TEST(Charconv, ReadsTheGeneralFormStrictly) {
    const struct {
        const char* text;
        std::size_t used; // characters taken; 0: refused
        double value;
    } rows[] = {
        {"12", 2, 12},    {"-0.5", 4, -0.5},
        {"1e3", 3, 1000}, {"1E-2x", 4, 0.01},
        {"2.", 2, 2},     {".5", 2, 0.5},
        {"1e", 1, 1},     {"1e+", 1, 1},
        {"0.1", 3, 0.1},  {"5e-324", 6, 5e-324},
        {"+1", 0, 0},     {" 1", 0, 0},
        {"", 0, 0},       {"-", 0, 0},
        {".", 0, 0},      {"e5", 0, 0},
        {"0x10", 1, 0},   {"1.7976931348623157e308", 22, std::numeric_limits<double>::max()},
    };
    for (const auto& r : rows) {
        const std::string s = r.text;
        double value = -1;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
        if (r.used == 0) {
            EXPECT_EQ(ec, std::errc::invalid_argument) << s;
            EXPECT_EQ(value, -1) << s;
        } else {
            EXPECT_EQ(ec, std::errc()) << s;
            EXPECT_EQ(std::size_t(end - s.data()), r.used) << s;
            EXPECT_EQ(value, r.value) << s;
        }
    }
    double value = -1;
    const std::string huge = "1e400";
    EXPECT_EQ(std::from_chars(huge.data(), huge.data() + huge.size(), value).ec,
              std::errc::result_out_of_range);
    const std::string inf = "-inf";
    EXPECT_EQ(std::from_chars(inf.data(), inf.data() + inf.size(), value).ec, std::errc());
    EXPECT_EQ(value, -std::numeric_limits<double>::infinity());
}

} // namespace
