// A status in a test's assertion: ASSERT_TRUE(IsOk(...)) fails showing the
// status's message.
#pragma once

#include <gtest/gtest.h>

#include "status/Status.h"

namespace zandrel::testing {

inline ::testing::AssertionResult IsOk(const status::Status& status) {
  if (status.Ok()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << status.message;
}

}  // namespace zandrel::testing
