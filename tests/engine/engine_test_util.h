// Helpers shared by the print engine's unit tests.
#pragma once

#include "engine_fixtures.h"

#include <gtest/gtest.h>

namespace enginetest {

// The dot count tables are built once at start, as the engine does.
struct LutEnvironment : testing::Environment {
    void SetUp() override {
        engine::init_luts();
        engine::init_oddluts();
        engine::init_evenluts();
    }
};
inline testing::Environment* const lut_environment = testing::AddGlobalTestEnvironment(new LutEnvironment);

}  // namespace enginetest
