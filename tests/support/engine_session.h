// One engine session for a whole test program, as the tool holds one for its life: the
// loader lock and the bound entry points from before the first test to after the last.
#pragma once

#include <gtest/gtest.h>

#include "component/crvping/entry_points.h"

namespace test {

class EngineSessionEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { session_ = new crv::EngineSession; }
    void TearDown() override {
        delete session_;
        session_ = nullptr;
    }

  private:
    crv::EngineSession* session_ = nullptr;
};

}  // namespace test
