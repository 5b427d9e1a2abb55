#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "frame/exports.hpp"

namespace {

using nlohmann::json;

struct received {
    std::uint64_t context;
    json message;
};
std::vector<received> first_inbox;
std::vector<received> second_inbox;
bool throw_from_callback = false;

void keep(std::vector<received>& inbox, std::uint64_t context, void* data, unsigned int size) {
    const auto* bytes = static_cast<const char*>(data);
    inbox.push_back({context, json::parse(bytes, bytes + size)});
}
void first_host(std::uint64_t context, void* data, unsigned int size) {
    if (throw_from_callback) throw std::runtime_error("host refused the message");
    keep(first_inbox, context, data, size);
}
void second_host(std::uint64_t context, void* data, unsigned int size) {
    keep(second_inbox, context, data, size);
}

int create(int id, const std::string& doc) {
    return CreateSensorInstance(id, doc.data(), static_cast<unsigned int>(doc.size()));
}

// The exports share one process-wide module, so the whole matrix runs as one ordered story.
TEST(exports, return_code_matrix) {
    const std::string doc = R"({"kind":"no_such_kind","settings":{}})";
    const auto doc_size = static_cast<unsigned>(doc.size());

    // No module yet, or none after a construction that threw.
    EXPECT_EQ(GetApiLevel(), 6);
    EXPECT_EQ(InitializeModule(1, nullptr), 1);
    EXPECT_EQ(create(1, doc), 3);
    EXPECT_EQ(DestroySensorInstance(1), 3);
    EXPECT_EQ(ExecuteSensorScan(1), 3);
    EXPECT_EQ(ExecuteMetaScan(1, 2, doc.data(), doc_size), 3);
    EXPECT_EQ(ExecuteCheck(1, doc.data(), doc_size), 3);
    unsigned int size = 0;
    EXPECT_EQ(GetModuleInformationSync(nullptr, &size, false), 2);
    EXPECT_EQ(GetModuleInformationSync(nullptr, nullptr, false), 1);
    GetModuleInformation(true);

    // A second initialisation is refused and the first host keeps receiving.
    ASSERT_EQ(InitializeModule(11, &first_host), 0);
    EXPECT_EQ(InitializeModule(22, &second_host), 1);
    GetModuleInformation(false);
    ASSERT_EQ(first_inbox.size(), 1u);
    EXPECT_EQ(first_inbox[0].context, 11u);
    EXPECT_FALSE(first_inbox[0].message.at("document").contains("Text"));
    EXPECT_TRUE(second_inbox.empty());

    // Two-call information protocol: size first, then a buffer that must be large enough.
    ASSERT_EQ(GetModuleInformationSync(nullptr, &size, true), 0);
    const unsigned int length = size;
    std::vector<char> buffer(length + 1, '\x7f');
    size = length - 1;
    EXPECT_EQ(GetModuleInformationSync(buffer.data(), &size, true), 1);
    EXPECT_EQ(size, length);
    EXPECT_EQ(buffer, std::vector<char>(length + 1, '\x7f'));
    size = length + 1;
    EXPECT_EQ(GetModuleInformationSync(buffer.data(), &size, true), 0);
    EXPECT_EQ(size, length);
    EXPECT_EQ(buffer[length], '\x7f');
    EXPECT_TRUE(
        json::parse(buffer.begin(), buffer.begin() + length).at("document").contains("Text"));

    // The dispatcher's codes pass through unchanged.
    EXPECT_EQ(create(1, doc), 1);                         // unknown kind
    EXPECT_EQ(CreateSensorInstance(1, nullptr, 100), 5);  // no bytes at all
    EXPECT_EQ(ExecuteSensorScan(1), 8);
    EXPECT_EQ(ExecuteCheck(1, "{", 1), 5);

    // An exception escaping the adapter becomes 2; information calls swallow it.
    throw_from_callback = true;
    EXPECT_EQ(create(1, doc), 2);
    GetModuleInformation(true);
    throw_from_callback = false;

    // Cleanup, twice, and a fresh start.
    EXPECT_EQ(CleanupModule(), 0);
    EXPECT_EQ(CleanupModule(), 0);
    EXPECT_EQ(ExecuteSensorScan(1), 3);
    ASSERT_EQ(InitializeModule(33, &second_host), 0);
    GetModuleInformation(true);
    ASSERT_EQ(second_inbox.size(), 1u);
    EXPECT_EQ(second_inbox[0].context, 33u);
    EXPECT_EQ(CleanupModule(), 0);
}

}  // namespace
