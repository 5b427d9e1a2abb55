#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "document/declared_kinds.hpp"
#include "frame/module_instance.hpp"
#include "frame/vexa_module_wmi.hpp"
#include "log_folder.hpp"
#include "test_kinds.hpp"
#include "test_support.hpp"

namespace {

using libvexahelper::module::module_instance_adapter;
using nlohmann::json;

test_support::message_recorder inbox;

void record(std::uint64_t, void* data, unsigned int size) { inbox.deliver(data, size); }

// The host reads the runtime log: each operation is framed by exact begin and end lines, and
// the settings it received are logged with every secret masked.
TEST(module_instance_adapter, logs_each_operation_and_delivers_its_messages) {
    const test_support::log_folder logs;
    module_instance_adapter adapter(std::make_unique<wmi::VexaModuleWMI>(0xfeedULL, &record));
    adapter.module()->dispatcher()->register_sensor_as<test_kinds::probe_sensor>(
        "test_probe_sensor");
    const std::string doc = test_support::settings_document(
        "test_probe_sensor",
        test_kinds::settings({{"host", "ok"}, {"zarvelcloudapikey", "k-123"}}));
    const auto size = static_cast<unsigned>(doc.size());
    EXPECT_EQ(adapter.create_sensor_instance(5, doc.data(), size), 0);
    EXPECT_EQ(adapter.execute_sensor_scan(5), 0);
    EXPECT_EQ(adapter.destroy_sensor_instance(5), 0);
    EXPECT_EQ(adapter.execute_meta_scan(5, 7, doc.data(), size), 1);  // not a meta-scan kind
    EXPECT_EQ(adapter.execute_check(5, doc.data(), size), 1);
    adapter.get_module_information(false);
    adapter.get_module_information_as_bytes(true);

    std::vector<std::string> lines;
    for (const auto& line : test_support::read_log(logs.path() / "runtime.log")) {
        EXPECT_EQ(line.text.find(test_kinds::password), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("k-123"), std::string::npos) << line.text;
        if (line.text.front() != '{') {
            lines.push_back(line.text);
            continue;
        }
        lines.push_back("<settings>");
        const auto echoed = json::parse(line.text).at("settings");
        EXPECT_EQ(echoed.at("zarvelcloudapikey"), "********");
    }
    const std::string unknown =
        " for sensor 5 failed: Initialization error. Unknown kind "
        "\"test_probe_sensor\".";
    const std::vector<std::pair<std::string, std::vector<std::string>>> operations{
        {"create_sensor_instance", {"<settings>"}},
        {"execute_sensor_scan", {}},
        {"destroy_sensor_instance", {}},
        {"execute_meta_scan", {"<settings>", "ExecuteMetaScan" + unknown}},
        {"execute_check", {"<settings>", "ExecuteCheck" + unknown}},
        {"get_module_information", {"Include texts: No"}},
        {"get_module_information_as_bytes", {"Include texts: Yes"}},
    };
    const std::string q = "libvexahelper::module::module_instance_adapter::";
    std::vector<std::string> expected;
    for (const auto& [operation, middle] : operations) {
        expected.push_back("### Begin " + q + operation + " ###");
        expected.insert(expected.end(), middle.begin(), middle.end());
        expected.push_back("### End   " + q + operation + " ###");
    }
    EXPECT_EQ(lines, expected);

    std::vector<std::string> types;
    for (const auto& m : inbox.messages()) types.push_back(m.at("type"));
    EXPECT_EQ(types,
              (std::vector<std::string>{"dynamic_channel", "sensor_scan_result", "meta_scan_result",
                                        "check_result", "module_information"}));
}

// Every registered kind is declared in the module information document; every declared kind is
// registered or waiting on the not-yet-built list, never both.
TEST(registration_table, matches_the_document_in_both_directions) {
    namespace doc = wmi::document;
    const std::map<wmi::kind_family, std::set<std::string_view>> declared{
        {wmi::kind_family::sensor,
         {doc::declared_sensor_kinds.begin(), doc::declared_sensor_kinds.end()}},
        {wmi::kind_family::metascan,
         {doc::declared_metascan_kinds.begin(), doc::declared_metascan_kinds.end()}},
        {wmi::kind_family::check,
         {doc::declared_check_kinds.begin(), doc::declared_check_kinds.end()}}};
    const std::set<std::string_view> waiting(wmi::kinds_not_yet_built().begin(),
                                             wmi::kinds_not_yet_built().end());
    std::set<std::string_view> registered;
    for (const auto& kind : wmi::kind_registrations()) {
        EXPECT_TRUE(registered.insert(kind.name).second) << "registered twice: " << kind.name;
        EXPECT_TRUE(declared.at(kind.family).count(kind.name)) << kind.name << " is not declared";
        EXPECT_FALSE(waiting.count(kind.name)) << kind.name << " is built: drop it from the list";
    }
    for (const auto& [family, names] : declared) {
        for (const auto& name : names) {
            EXPECT_TRUE(registered.count(name) || waiting.count(name)) << name << " is missing";
        }
    }
    for (const auto& name : waiting) {
        EXPECT_TRUE(std::any_of(declared.begin(), declared.end(),
                                [&](const auto& d) { return d.second.count(name) == 1; }))
            << name << " is waiting but not declared";
    }
}

}  // namespace
