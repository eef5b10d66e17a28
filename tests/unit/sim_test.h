// Base fixture for tests on the substitute machine: a fresh machine per test, and at the
// end the check that nothing stayed open or loaded and no operation was misused.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

class SimTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::string report;
    EXPECT_TRUE(machine.Clean(&report)) << report;
  }

  // Events of the log that begin with `prefix`, in order.
  std::vector<std::string> EventsStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& event : machine.Events()) {
      if (event.rfind(prefix, 0) == 0) found.push_back(event);
    }
    return found;
  }

  // Every recorded call of `operation` had `value` for the argument `name`.
  void ExpectEveryCall(const std::string& operation, const std::string& name,
                       const std::string& value) const {
    for (const auto& arguments : machine.ArgumentsOf(operation)) {
      auto it = arguments.find(name);
      ASSERT_NE(it, arguments.end()) << operation << " recorded no " << name;
      EXPECT_EQ(value, it->second) << operation << " " << name;
    }
  }

  sim::Machine machine;
};
