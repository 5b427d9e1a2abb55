#pragma once

#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

// A JSON file of tests/probe/data.
inline nlohmann::json probe_data(const std::string& name) {
    std::ifstream in(std::string(PROBE_TEST_DATA) + "/" + name);
    return nlohmann::json::parse(in);
}
