#pragma once

// A package part the engine refuses: 1004 naming the part, the one way every refusal of the engine says it.

#include "common/RuntimeError.h"
#include "spreadsheet/Failure.h"

#include <string>
#include <string_view>

namespace ordana::spreadsheet::ods {

[[noreturn]] inline void corrupt(std::string_view part, const std::string& what) {
    fail("partea \"" + std::string(part) + "\" " + what);
}

} // namespace ordana::spreadsheet::ods
