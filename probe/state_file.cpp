#include "state_file.hpp"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace wmiprobe {

namespace {

constexpr int state_format = 1;

int channel_id(const std::string& text, const std::filesystem::path& path) {
    std::size_t used = 0;
    int id = 0;
    try {
        id = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size()) {
        throw state_error(path.string() + ": '" + text + "' is not a channel id");
    }
    return id;
}

}  // namespace

sensor_state load_state(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (!std::filesystem::exists(path)) {
            return {};
        }
        throw state_error("cannot read the state file " + path.string());
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    sensor_state state;
    try {
        const auto document = nlohmann::json::parse(buffer.str());
        if (document.at("format").get<int>() != state_format) {
            throw state_error(path.string() + ": unsupported state format " +
                              document.at("format").dump());
        }
        state.kind = document.at("kind").get<std::string>();
        state.host = document.at("host").get<std::string>();
        state.persistent_data =
            document.at("persistent_data").get<std::map<std::string, std::string>>();
        for (const auto& [id, definition] : document.at("channels").items()) {
            if (!definition.is_object()) {
                throw state_error(path.string() + ": channel " + id + " is not an object");
            }
            state.channels[channel_id(id, path)] = definition;
        }
        for (const auto& [id, sample] : document.at("counters").items()) {
            state.counters[channel_id(id, path)] = {sample.at("value").get<double>(),
                                                    sample.at("time_us").get<std::int64_t>()};
        }
    } catch (const nlohmann::json::exception& e) {
        throw state_error(path.string() + " is not a wmiprobe state file: " + e.what());
    }
    return state;
}

void save_state(const std::filesystem::path& path, const sensor_state& state) {
    nlohmann::json document{{"format", state_format},
                            {"kind", state.kind},
                            {"host", state.host},
                            {"channels", nlohmann::json::object()},
                            {"persistent_data", state.persistent_data},
                            {"counters", nlohmann::json::object()}};
    for (const auto& [id, definition] : state.channels) {
        document["channels"][std::to_string(id)] = definition;
    }
    for (const auto& [id, sample] : state.counters) {
        document["counters"][std::to_string(id)] = {{"value", sample.value},
                                                    {"time_us", sample.time_us}};
    }
    const std::string text =
        document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";

    // Same directory as the target, so the rename cannot cross file systems.
    auto temporary = path;
    temporary += ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            throw state_error("cannot write the state file " + temporary.string());
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw state_error("cannot replace the state file " + path.string() + ": " +
                          error.message());
    }
}

}  // namespace wmiprobe
