#pragma once

#include <exception>
#include <string>

namespace ordana {

// The failure numbers that the commands tell apart.
namespace err {
inline constexpr int InvalidCall = 5;         // logarithm or square root out of domain
inline constexpr int Overflow = 6;            // 16-bit out of range, 0/0, result too large
inline constexpr int OutOfMemory = 7;         // an allocation failed outside the engine's own checks
inline constexpr int SubscriptOutOfRange = 9; // an index outside a list
inline constexpr int DivisionByZero = 11;     // non-zero value divided by zero
inline constexpr int TypeMismatch = 13;       // a value that does not read as a number
inline constexpr int Internal = 51;          // a failure that is not a run-time error (a library's exception)
inline constexpr int DeviceUnavailable = 52; // the file's folder or drive cannot be reached
inline constexpr int CannotCreateObject = 429; // the spreadsheet engine cannot start
inline constexpr int Application = 1004;       // a failure reported by the spreadsheet engine
inline constexpr int Cancelled = 32755;        // the file dialog was cancelled
} // namespace err

// A failure value: a number the callers switch on and a Romanian description for the user.
class RuntimeError : public std::exception {
  public:
    RuntimeError(int number, std::string description)
        : number_(number), description_(std::move(description)) {}

    int number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

  private:
    int number_;
    std::string description_;
};

} // namespace ordana
