#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/sim_bus.h"

// A simulated machine from a description the test expects to be good, or the reason it gives
// for one the test expects to be refused.
inline std::unique_ptr<sim::SimBus> ParseOk(const std::string& text) {
    std::string error;
    std::unique_ptr<sim::SimBus> bus = sim::SimBus::Parse(text, &error);
    EXPECT_TRUE(bus) << error;
    return bus;
}

inline std::string ParseError(const std::string& text) {
    std::string error;
    EXPECT_EQ(nullptr, sim::SimBus::Parse(text, &error)) << text;
    return error;
}
