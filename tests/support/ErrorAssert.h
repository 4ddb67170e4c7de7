#pragma once

#include "common/RuntimeError.h"

#include <gtest/gtest.h>

#include <string>

// Asserts that the statement throws RuntimeError with this number and, when given, a description
// containing the fragment.
#define EXPECT_RUNTIME_ERROR(statement, expectedNumber, fragment)                                            \
    do {                                                                                                     \
        try {                                                                                                \
            statement;                                                                                       \
            ADD_FAILURE() << "expected RuntimeError " << (expectedNumber) << ", nothing was thrown";         \
        } catch (const ::ordana::RuntimeError& e_) {                                                         \
            EXPECT_EQ(e_.number(), (expectedNumber)) << e_.description();                                    \
            EXPECT_NE(e_.description().find(fragment), std::string::npos) << e_.description();               \
        }                                                                                                    \
    } while (false)
