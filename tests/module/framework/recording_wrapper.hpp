#pragma once

#include <string>
#include <vector>

#include "libvexahelper/sensor_data_wrapper.hpp"

// A settings wrapper that notes every key in the order the parsers ask for it.
class recording_wrapper : public libvexahelper::sensor_data_wrapper {
public:
    explicit recording_wrapper(const std::string& text)
        : sensor_data_wrapper(text.data(), static_cast<unsigned int>(text.size())) {}

    std::string get_value(const std::string& key) const override {
        note(key);
        return sensor_data_wrapper::get_value(key);
    }
    std::string get_secure_value(const std::string& key) const override {
        note(key);
        return sensor_data_wrapper::get_secure_value(key);
    }
    bool has_value(const std::string& key) const override {
        note(key);
        return sensor_data_wrapper::has_value(key);
    }

    mutable std::vector<std::string> keys;

private:
    void note(const std::string& key) const {
        if (keys.empty() || keys.back() != key) keys.push_back(key);
    }
};
