// libwql.so, used exactly as the module uses it (public headers only), against the simulated
// Windows target over loopback: authentication, sealing, paging, faults, values and the
// module's whole query list against both shipped machine models.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "libi18n/catalogue.hpp"
#include "libwql/libwql.hpp"
#include "module_queries.hpp"
#include "offline_krb5.hpp"
#include "simulator/simulator.hpp"

namespace {

using namespace std::chrono_literals;
namespace sim = winrm_simulator;

const std::string models_dir = WMI_SIMULATOR_MODELS_DIR;
const char* const domain = "LAB";
const char* const user = "monitor";
const char* const password = "E2e-Secret#1";

// Keeps every runtime log line, so tests can look for what must never be logged.
class capturing_log final : public liblog::log_interface {
public:
    void log(int, const std::string& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// 2026-12-05T17:30:01.5Z, a fixed instant with a fraction.
const sim::sim_clock::time_point fixed_now =
    sim::sim_clock::time_point(std::chrono::seconds(1796491801)) + 500ms;

// A model whose values exercise every form on the wire, and more services than fit a page.
std::string values_model() {
    nlohmann::json model;
    model["machine_name"] = "WIN-E2E";
    model["utc_offset_minutes"] = -300;
    model["uptime_seconds"] = 3600;
    nlohmann::json& cimv2 = model["namespaces"]["root\\cimv2"];
    cimv2["Win32_OperatingSystem"]["instances"] = nlohmann::json::array({{
        {"Caption", "E2E Windows"},
        {"Description", ""},
        {"OtherTypeDescription", nullptr},
        {"FreeVirtualMemory", std::numeric_limits<std::uint64_t>::max()},
        {"CurrentTimeZone", -300},
        {"LocalDateTime", {{"datetime", "now"}}},
        {"InstallDate", {{"datetime", "2024-03-11T09:12:44.1234567+05:30"}}},
        {"MUILanguages", {"en-US", "de-DE", ""}},
    }});
    nlohmann::json services = nlohmann::json::array();
    for (int i = 0; i < 250; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "svc%03d", i);
        services.push_back({{"Name", name}, {"ProcessId", 1000 + i}});
    }
    cimv2["Win32_Service"]["instances"] = services;
    cimv2["Win32_Printer"]["instances"] = nlohmann::json::array({
        {{"Name", "O'Brien \\ Laser"}, {"PrinterState", 1}},
        {{"Name", "O'Brien"}, {"PrinterState", 2}},
        {{"Name", "Back\\"}, {"PrinterState", 3}},
        {{"Name", "Plain"}, {"PrinterState", 4}},
    });
    return model.dump();
}

// The shipped models' counters advance with real time.
sim::simulator_options live_clock() {
    sim::simulator_options options;
    options.clock = [] { return sim::sim_clock::now(); };
    return options;
}

class wql_simulator : public ::testing::Test {
protected:
    static void SetUpTestSuite() { offline_krb5::configure(); }

    void start(sim::machine_model model, sim::simulator_options options = {}) {
        options.users = {
            sim::parse_user_account(std::string(domain) + "\\" + user + ":" + password)};
        if (!options.clock) options.clock = [] { return fixed_now; };
        target_ = std::make_unique<sim::simulator>(std::move(model), options);
        target_->start();
        log_ = std::make_shared<capturing_log>();
        client_ = libwql::create_wsman_client(settings_, log_);
    }
    void start_values() { start(sim::machine_model::parse(values_model(), "values")); }

    std::unique_ptr<libwql::wmi_session_interface> session(const std::string& pass = password) {
        return client_->open_session({"127.0.0.1", domain, user, pass, 0, target_->port(), false});
    }

    libwql::wsman_client_settings settings_{8, 5, 5, 3, 3, 100};
    std::unique_ptr<sim::simulator> target_;
    std::shared_ptr<capturing_log> log_;
    std::unique_ptr<libwql::wsman_client_interface> client_;
};

// The catalogue key of the i18n exception `action` throws ("#:key[arguments]" when the message
// has arguments), or "no exception".
std::string key_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const libi18n::i18n_exception& e) {
        std::string key = e.get_i18n_msg().key;
        if (key.starts_with("#:")) key = key.substr(2, key.find('[') - 2);
        return key;
    }
    return "no exception";
}

TEST_F(wql_simulator, one_ntlm_handshake_carries_many_sealed_round_trips) {
    start_values();
    {
        auto s = session();
        for (int i = 0; i < 3; ++i) {
            const auto result =
                s->query("SELECT Caption FROM Win32_OperatingSystem", "root\\cimv2");
            ASSERT_EQ(1u, result->get_rows().size());
            EXPECT_EQ("E2E Windows", result->get_rows()[0].at("Caption").as_string());
        }
    }
    // A later session of the same client reuses the authenticated connection.
    auto again = session();
    EXPECT_EQ(1u, again->query("SELECT Caption FROM Win32_OperatingSystem", "root\\cimv2")
                      ->get_rows()
                      .size());
    const auto stats = target_->statistics();
    EXPECT_EQ(1u, stats.connections);
    EXPECT_EQ(1u, stats.handshakes);
    EXPECT_EQ(0u, stats.failed_logons);
    // The simulator refuses unsealed SOAP, so every answered request was sealed both ways.
    EXPECT_EQ(4u, stats.soap_requests);

    const auto lines = log_->lines();
    EXPECT_FALSE(lines.empty());
    for (const std::string& line : lines) EXPECT_EQ(std::string::npos, line.find(password));
}

TEST_F(wql_simulator, wrong_password_is_access_denied_and_the_right_one_still_works) {
    start_values();
    EXPECT_EQ("libwql.error.access_denied", key_of([&] {
                  session("not-the-password")
                      ->query("SELECT Caption FROM Win32_OperatingSystem", "root\\cimv2");
              }));
    EXPECT_GE(target_->statistics().failed_logons, 1u);
    EXPECT_EQ(1u, session()
                      ->query("SELECT Caption FROM Win32_OperatingSystem", "root\\cimv2")
                      ->get_rows()
                      .size());
    for (const std::string& line : log_->lines()) {
        EXPECT_EQ(std::string::npos, line.find("not-the-password"));
    }
}

TEST_F(wql_simulator, missing_namespace_class_and_bad_query_raise_the_typed_exceptions) {
    start(sim::machine_model::load_file(models_dir + "/windows_server.json"));
    auto s = session();
    EXPECT_THROW(s->query("SELECT displayName FROM AntiVirusProduct", "root\\SecurityCenter2"),
                 libwql::exceptions::invalid_namespace_error);
    EXPECT_THROW(s->query("SELECT Name FROM Win32_NoSuchClass", "root\\cimv2"),
                 libwql::exceptions::invalid_class_error);
    EXPECT_THROW(s->query("SELECT NoSuchProperty FROM Win32_Service", "root\\cimv2"),
                 libwql::exceptions::fatal_query_error);
    EXPECT_THROW(s->query("SELECT Name FROM", "root\\cimv2"),
                 libwql::exceptions::fatal_query_error);
    // The session survives its faults.
    EXPECT_FALSE(s->query("SELECT Name FROM Win32_Service", "root\\cimv2")->get_rows().empty());
    EXPECT_EQ(1u, target_->statistics().handshakes);
}

TEST_F(wql_simulator, multi_page_results_arrive_whole_and_in_order) {
    for (const std::int64_t max_elements : {100, 7}) {
        SCOPED_TRACE(max_elements);
        settings_.max_elements = max_elements;
        start_values();
        const auto result =
            session()->query("SELECT Name, ProcessId FROM Win32_Service", "root\\cimv2");
        const auto& rows = result->get_rows();
        ASSERT_EQ(250u, rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "svc%03zu", i);
            EXPECT_EQ(name, rows[i].at("Name").as_string());
            EXPECT_EQ(1000 + i, rows[i].at("ProcessId").as_uint64_t());
            EXPECT_EQ(2u, rows[i].size());
        }
        // One item in the EnumerateResponse, then pages of min(32, MaxElements).
        const std::uint64_t page = std::min<std::int64_t>(32, max_elements);
        EXPECT_EQ(1 + (249 + page - 1) / page, target_->statistics().soap_requests);
        EXPECT_EQ(0u, target_->statistics().open_enumerations);
    }
}

TEST_F(wql_simulator, values_keep_their_wire_forms) {
    start_values();
    const auto result = session()->query(
        "SELECT Caption, Description, OtherTypeDescription, FreeVirtualMemory, CurrentTimeZone, "
        "LocalDateTime, InstallDate, MUILanguages FROM Win32_OperatingSystem",
        "root\\cimv2");
    ASSERT_EQ(1u, result->get_rows().size());
    const libwql::wql_query_row& row = result->get_rows()[0];
    EXPECT_EQ(8u, row.size());

    // nil and empty are different things.
    EXPECT_FALSE(row.get("OtherTypeDescription").has_value());
    EXPECT_TRUE(row.at("OtherTypeDescription").is_null());
    ASSERT_TRUE(row.get("Description").has_value());
    EXPECT_EQ("", row.get("Description")->as_string());
    EXPECT_FALSE(row.at("Description").is_null());

    EXPECT_EQ(std::numeric_limits<std::uint64_t>::max(), row.at("FreeVirtualMemory").as_uint64_t());
    EXPECT_FALSE(row.get_as_converted_to_int64_t("FreeVirtualMemory").has_value());
    EXPECT_EQ(-300, row.get_as_converted_to_int64_t("CurrentTimeZone"));

    const auto& languages = row.at("MUILanguages");
    EXPECT_EQ((std::vector<std::string>{"en-US", "de-DE", ""}), languages.values());

    // The target renders "now" in its own offset (UTC-5) with the half second.
    EXPECT_EQ(fixed_now, row.at("LocalDateTime").as_timestamp_t());
    // 09:12:44.1234567 at +05:30 is 03:42:44.1234567 UTC.
    const auto install = row.at("InstallDate").as_timestamp_t();
    const auto expected =
        std::chrono::sys_days(std::chrono::year{2024} / 3 / 11) + 3h + 42min + 44s + 123456700ns;
    EXPECT_EQ(expected, install);
}

TEST_F(wql_simulator, quotes_and_backslashes_stay_inside_the_literal) {
    start_values();
    auto s = session();
    const auto name_of = [&](const std::string& value) {
        const auto query = libwql::wql_query_builder::select({"Name", "PrinterState"})
                               .from("Win32_Printer")
                               .where_equals("Name", value)
                               .build();
        std::vector<std::string> names;
        const auto result = s->query(query.get(), "root\\cimv2");
        for (const auto& row : result->get_rows()) {
            names.push_back(row.at("Name").as_string());
        }
        return names;
    };
    using names = std::vector<std::string>;
    EXPECT_EQ(names{"O'Brien \\ Laser"}, name_of("O'Brien \\ Laser"));
    EXPECT_EQ(names{"O'Brien"}, name_of("O'Brien"));
    EXPECT_EQ(names{"Back\\"}, name_of("Back\\"));
    // Attempts to end the literal early and widen the condition find nothing.
    EXPECT_EQ(names{}, name_of("x' OR Name LIKE '%"));
    EXPECT_EQ(names{}, name_of("Plain' OR Name = 'O'Brien"));
    EXPECT_EQ(names{}, name_of("Back\\' OR Name LIKE '%"));
    EXPECT_EQ(names{}, name_of("\\"));
    EXPECT_EQ(names{}, name_of("\""));
}

TEST_F(wql_simulator, a_killed_connection_recovers_on_the_next_query) {
    start_values();
    auto s = session();
    const std::string wql = "SELECT Caption FROM Win32_OperatingSystem";
    ASSERT_EQ(1u, s->query(wql, "root\\cimv2")->get_rows().size());

    target_->drop_connections();
    EXPECT_EQ(1u, s->query(wql, "root\\cimv2")->get_rows().size());
    EXPECT_EQ(2u, target_->statistics().handshakes);

    // The target drops the socket instead of answering the next request: retried.
    target_->set_fault({sim::fault_kind::drop_connection, {}, 1});
    EXPECT_EQ(1u, s->query(wql, "root\\cimv2")->get_rows().size());
    EXPECT_EQ(3u, target_->statistics().handshakes);

    // A lost context (401 on an authenticated connection) re-authenticates once.
    target_->set_fault({sim::fault_kind::wrong_credentials, {}, 1});
    EXPECT_EQ(1u, s->query(wql, "root\\cimv2")->get_rows().size());

    // More drops than retries end the query, and the session still serves the next one.
    target_->set_fault({sim::fault_kind::drop_connection, {}, 0});
    EXPECT_EQ("libwql.error.dead_session", key_of([&] { s->query(wql, "root\\cimv2"); }));
    target_->set_fault({});
    EXPECT_EQ(1u, s->query(wql, "root\\cimv2")->get_rows().size());
}

TEST_F(wql_simulator, a_truncated_or_failed_reply_is_a_clear_error) {
    settings_.max_retries = 0;
    start_values();
    auto s = session();
    const std::string wql = "SELECT Caption FROM Win32_OperatingSystem";
    target_->set_fault({sim::fault_kind::malformed_xml, {}, 1});
    EXPECT_EQ("libwql.error.getinstance_failed", key_of([&] { s->query(wql, "root\\cimv2"); }));
    // WBEM_E_FAILED is worth a retry; with none left it is reported as transient.
    target_->set_fault({sim::fault_kind::server_error, {}, 1});
    EXPECT_EQ("libwql.error.transient", key_of([&] { s->query(wql, "root\\cimv2"); }));
    EXPECT_EQ(1u, s->query(wql, "root\\cimv2")->get_rows().size());
}

// The selected field names of "SELECT a, b FROM ...".
std::vector<std::string> selected_fields(const std::string& wql) {
    const auto from = wql.find(" FROM ");
    std::vector<std::string> fields;
    std::istringstream list(wql.substr(7, from - 7));
    for (std::string field; std::getline(list, field, ',');) {
        field.erase(0, field.find_first_not_of(' '));
        field.erase(field.find_last_not_of(' ') + 1);
        fields.push_back(field);
    }
    return fields;
}

void expect_rows_of_shape(libwql::wmi_session_interface& s,
                          const std::vector<module_queries::module_query>& queries) {
    for (const auto& q : queries) {
        SCOPED_TRACE(q.ns + ": " + q.wql);
        try {
            const auto result = s.query(q.wql, q.ns);
            EXPECT_GE(result->get_rows().size(), q.min_rows);
            const auto fields = selected_fields(q.wql);
            for (const auto& row : result->get_rows()) {
                EXPECT_EQ(fields.size(), row.size());
                for (const std::string& field : fields) EXPECT_NO_THROW(row.at(field)) << field;
            }
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

TEST_F(wql_simulator, the_server_model_answers_every_module_query) {
    start(sim::machine_model::load_file(models_dir + "/windows_server.json"), live_clock());
    auto s = session();
    const auto queries = module_queries::server_queries(
        [&](const std::string& ns, const std::string& wql, const std::string& field) {
            return s->query(wql, ns)->get_rows().at(0).at(field).as_string();
        });
    expect_rows_of_shape(*s, queries);
    EXPECT_THROW(s->query("SELECT displayName FROM AntiVirusProduct", "root\\SecurityCenter2"),
                 libwql::exceptions::invalid_namespace_error);
    EXPECT_EQ(1u, target_->statistics().handshakes);
}

TEST_F(wql_simulator, the_client_model_answers_every_module_query) {
    start(sim::machine_model::load_file(models_dir + "/windows_client.json"), live_clock());
    auto s = session();
    expect_rows_of_shape(*s, module_queries::client_queries());
    const auto defender =
        s->query("SELECT productState FROM AntiVirusProduct WHERE displayName = 'Windows Defender'",
                 "root\\SecurityCenter2");
    ASSERT_EQ(1u, defender->get_rows().size());
    EXPECT_EQ(397568, defender->get_rows()[0].get_as_converted_to_int64_t("productState"));
}

}  // namespace
