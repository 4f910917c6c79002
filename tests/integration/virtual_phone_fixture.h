// A virtual phone declared in a port table of its own, and a link opened on its port: the
// common ground of the integration tests that drive one client against the phone.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "link/phone_link.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace tr52test {

class VirtualPhoneFixture : public ::testing::Test {
 protected:
  explicit VirtualPhoneFixture(int com) : com_(com) {}

  void SetUp() override { tableEnv_.emplace("TR52_PORT_TABLE", table.Path()); }
  void TearDown() override {
    link.Close();
    if (phone) phone->Stop();
    tableEnv_.reset();  // back to what the environment held before the test
  }

  // Starts the phone with a scenario ("key = value" lines) and opens the link on its port.
  void StartPhoneAndLink(const std::string& scenario) {
    vphone::PhoneOptions o;
    o.com = com_;
    o.scenario = vphone::ParseScenario(scenario);
    phone = std::make_unique<vphone::VirtualPhone>(o);
    std::string error;
    ASSERT_TRUE(phone->Start(&error)) << error;
    ASSERT_TRUE(link.Open(static_cast<uint8_t>(com_)));
  }

  // Protocol time-outs run at their real length, so that a healthy exchange on a loaded machine
  // never misses its answer; a test of a silent or failing phone compresses them.
  void CompressWaits(double factor) {
    clock_.reset();
    clock_.emplace(factor);
  }

  TempDir table;
  std::unique_ptr<vphone::VirtualPhone> phone;
  tr52::PhoneLink link;

 private:
  int com_;
  std::optional<ScopedClock> clock_{std::in_place, 1.0};
  std::optional<ScopedEnv> tableEnv_;
};

}  // namespace tr52test
