#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "document/module_information.hpp"
#include "frame/module_instance.hpp"
#include "frame/vexa_module_wmi.hpp"
#include "libvexahelper/logging.hpp"
#include "libvexahelper/message_service.hpp"
#include "libvexahelper/messages.hpp"
#include "libvexahelper/sensor_interface.hpp"

// A kind registered only by these tests, never by the module's table.
namespace frame_test_kind {

struct settings {};
settings parse_settings(const libvexahelper::sensor_data_wrapper& data,
                        std::type_identity<settings>) {
    data.get_value("host");
    return {};
}

class echo_sensor : public libvexahelper::sensors::sensor_interface {
public:
    using settings_type = settings;
    echo_sensor(std::shared_ptr<libvexahelper::service_container> container, int id, settings,
                std::map<int, std::string>, std::map<std::string, std::string>)
        : container_(std::move(container)), id_(id) {}
    int get_id() const override { return id_; }
    void log(const std::string&, int) override {}
    void log_debug(const std::string&) override {}
    void scan() override {
        container_->create<libvexahelper::message_service_interface>()->send(
            libvexahelper::persistent_data(id_, "scanned", "yes"));
    }

private:
    std::shared_ptr<libvexahelper::service_container> container_;
    int id_;
};

}  // namespace frame_test_kind

namespace {

namespace fs = std::filesystem;
using libvexahelper::module::module_instance_adapter;
using nlohmann::json;

struct received {
    std::uint64_t context;
    json message;
};
std::vector<received> inbox;

void record(std::uint64_t context, void* data, unsigned int size) {
    const auto* bytes = static_cast<const char*>(data);
    inbox.push_back({context, json::parse(bytes, bytes + size)});
}

std::vector<std::string> lines_of(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        // Drop "<date> <time> [<level>] ".
        const auto start = line.find("] ");
        lines.push_back(start == std::string::npos ? line : line.substr(start + 2));
    }
    return lines;
}

class adapter_test : public ::testing::Test {
protected:
    void SetUp() override {
        inbox.clear();
        dir_ = fs::temp_directory_path() /
               ("wmi_frame_" + std::string(
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        libvexahelper::logging::set_log_directory(dir_);
        adapter_ = std::make_unique<module_instance_adapter>(
            std::make_unique<wmi::VexaModuleWMI>(0xfeedULL, &record));
        adapter_->module()->dispatcher()->register_sensor_as<frame_test_kind::echo_sensor>(
            "echo_sensor");
    }
    void TearDown() override {
        adapter_.reset();
        libvexahelper::logging::set_log_directory({});
        fs::remove_all(dir_);
    }
    std::vector<std::string> runtime_log() const { return lines_of(dir_ / "runtime.log"); }

    fs::path dir_;
    std::unique_ptr<module_instance_adapter> adapter_;
};

TEST_F(adapter_test, operations_log_begin_settings_and_end_lines) {
    const std::string doc =
        R"({"kind":"echo_sensor","settings":{"host":"h","a.b.password":"hunter2"}})";
    EXPECT_EQ(adapter_->create_sensor_instance(5, doc.data(), static_cast<unsigned>(doc.size())),
              0);
    EXPECT_EQ(adapter_->execute_sensor_scan(5), 0);
    EXPECT_EQ(adapter_->destroy_sensor_instance(5), 0);
    adapter_->get_module_information(false);
    adapter_->get_module_information_as_bytes(true);

    const std::string q = "libvexahelper::module::module_instance_adapter::";
    const std::vector<std::string> expected{
        "### Begin " + q + "create_sensor_instance ###",
        R"({"kind":"echo_sensor","settings":{"a.b.password":"********","host":"h"},"channels":{},"persistent_data":{}})",
        "### End   " + q + "create_sensor_instance ###",
        "### Begin " + q + "execute_sensor_scan ###",
        "### End   " + q + "execute_sensor_scan ###",
        "### Begin " + q + "destroy_sensor_instance ###",
        "### End   " + q + "destroy_sensor_instance ###",
        "### Begin " + q + "get_module_information ###",
        "Include texts: No",
        "### End   " + q + "get_module_information ###",
        "### Begin " + q + "get_module_information_as_bytes ###",
        "Include texts: Yes",
        "### End   " + q + "get_module_information_as_bytes ###",
    };
    EXPECT_EQ(runtime_log(), expected);
}

TEST_F(adapter_test, messages_reach_the_host_callback_with_its_context) {
    const std::string doc = R"({"kind":"echo_sensor","settings":{"host":"h"}})";
    adapter_->create_sensor_instance(1, doc.data(), static_cast<unsigned>(doc.size()));
    adapter_->execute_sensor_scan(1);
    adapter_->get_module_information(true);
    ASSERT_EQ(inbox.size(), 2u);
    EXPECT_EQ(inbox[0].context, 0xfeedULL);
    EXPECT_EQ(inbox[0].message.at("type"), "persistent_data");
    EXPECT_EQ(inbox[1].message.at("type"), "module_information");
    EXPECT_EQ(inbox[1].message.at("document"), json::parse(wmi::document::module_information()));
}

TEST_F(adapter_test, meta_scan_and_check_settings_are_logged_masked) {
    const std::string doc = R"({"kind":"none","settings":{"zarvelcloudapikey":"k-123"}})";
    EXPECT_EQ(adapter_->execute_meta_scan(2, 7, doc.data(), static_cast<unsigned>(doc.size())),
              1);
    EXPECT_EQ(adapter_->execute_check(2, doc.data(), static_cast<unsigned>(doc.size())), 1);
    for (const auto& line : runtime_log()) EXPECT_EQ(line.find("k-123"), std::string::npos);
    ASSERT_EQ(inbox.size(), 2u);
    EXPECT_EQ(inbox[0].message.at("type"), "meta_scan_result");
    EXPECT_EQ(inbox[0].message.at("request"), 7);
    EXPECT_EQ(inbox[1].message.at("type"), "check_result");
}

TEST(module_instance, refuses_empty_parts) {
    try {
        module_instance_adapter adapter(nullptr);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "module_instance_adapter: module_instance must not be null");
    }
    EXPECT_THROW(wmi::VexaModuleWMI(1, nullptr), std::invalid_argument);
}

TEST(registration_table, matches_the_document_in_both_directions) {
    const json document = json::parse(wmi::document::module_information());
    const std::map<wmi::kind_family, const char*> members{{wmi::kind_family::sensor, "Sensors"},
                                                          {wmi::kind_family::metascan, "MetaScans"},
                                                          {wmi::kind_family::check, "Checks"}};
    std::set<std::string> names;
    for (const auto& kind : wmi::kind_registrations()) {
        EXPECT_TRUE(names.insert(kind.name).second) << "registered twice: " << kind.name;
        EXPECT_TRUE(document.at(members.at(kind.family)).contains(kind.name))
            << kind.name << " has no entry in " << members.at(kind.family);
    }
    for (const auto& [family, member] : members) {
        for (const auto& [name, entry] : document.at(member).items()) {
            EXPECT_EQ(entry.at("Name"), name);
            bool registered = false;
            for (const auto& kind : wmi::kind_registrations()) {
                registered |= kind.family == family && name == kind.name;
            }
            // Kinds the module does not implement yet; the list shrinks as each one lands and
            // must be empty when the catalogue is complete.
            static const std::set<std::string> not_yet_implemented = {
                "service_sensor",          "service_metascan",
                "microsoft_sql_server_sensor", "microsoft_sql_server_metascan",
                "volume_sensor",        "volume_metascan",
                "network_card_sensor",
                "network_card_metascan", "windows_security_sensor",
                "windows_security_metascan", "print_queue_sensor", "print_queue_metascan",
                "logical_disk_io_sensor", "logical_disk_io_metascan", "physical_disk_io_sensor",
                "physical_disk_io_metascan"};
            EXPECT_NE(registered, not_yet_implemented.count(name) == 1)
                << member << " entry " << name
                << (registered ? " is registered: drop it from not_yet_implemented"
                               : " is not registered");
        }
    }
    // The module registers exactly the table.
    wmi::VexaModuleWMI module(0, &record);
    std::size_t registered = module.dispatcher()->sensor_kinds().size() +
                             module.dispatcher()->meta_kinds().size() +
                             module.dispatcher()->check_kinds().size();
    EXPECT_EQ(registered, wmi::kind_registrations().size());
}

TEST(module_information, document_keeps_the_member_order_and_is_built_once) {
    const std::string& doc = wmi::document::module_information();
    EXPECT_EQ(&doc, &wmi::document::module_information());
    const auto parsed = nlohmann::ordered_json::parse(doc);
    std::vector<std::string> order;
    for (const auto& [name, value] : parsed.items()) order.push_back(name);
    EXPECT_EQ(order, (std::vector<std::string>{"MetaData", "Sensors", "Sections", "Groups",
                                               "Revision", "MetaScans", "Checks", "Lookups",
                                               "Text"}));
    EXPECT_EQ(parsed.at("MetaData").at("Version"), "1.21.0.22799");
}

}  // namespace
