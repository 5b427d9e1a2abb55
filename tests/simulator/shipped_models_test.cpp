// The shipped models must answer every query the module sends, with the rows the module
// needs; a renamed class or a dropped property in a model fails here, not in a demo.
#include <gtest/gtest.h>

#include "module_queries.hpp"
#include "simulator/query_engine.hpp"

namespace winrm_simulator {
namespace {

using namespace std::chrono_literals;
using module_queries::module_query;

const std::string models_dir = WMI_SIMULATOR_MODELS_DIR;

// Every query answers and, where the module needs rows, has them.
void expect_answers(const machine_model& model, const std::vector<module_query>& queries) {
    const model_time time{sim_clock::now(), sim_clock::now() + 10s};
    for (const module_query& q : queries) {
        SCOPED_TRACE(std::string(q.ns) + ": " + q.wql);
        try {
            EXPECT_GE(run_query(model, q.ns, q.wql, time).rows.size(), q.min_rows);
        } catch (const wmi_error& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

std::string first_value(const machine_model& model, const std::string& ns,
                        const std::string& wql, const std::string& field) {
    const model_time time{sim_clock::now(), sim_clock::now()};
    const query_result result = run_query(model, ns, wql, time);
    for (const auto& [name, value] : result.rows.at(0)) {
        if (name == field) return value.items.at(0);
    }
    return {};
}

TEST(shipped_models, server_answers_every_module_query) {
    const machine_model model = machine_model::load_file(models_dir + "/windows_server.json");
    const auto queries = module_queries::server_queries(
        [&](const std::string& ns, const std::string& wql, const std::string& field) {
            return first_value(model, ns, wql, field);
        });
    expect_answers(model, queries);

    // A server has no Windows Security products: the namespace is missing, as on Windows.
    EXPECT_THROW(
        run_query(model, "root\\SecurityCenter2", "SELECT displayName FROM AntiVirusProduct",
                  {sim_clock::now(), sim_clock::now()}),
        wmi_error);
}

TEST(shipped_models, client_answers_every_module_query) {
    const machine_model model = machine_model::load_file(models_dir + "/windows_client.json");
    expect_answers(model, module_queries::client_queries());
    // 397568 = 0x61100: enabled (bit 12) and signatures current (bit 4 clear).
    EXPECT_EQ(first_value(model, "root\\SecurityCenter2",
                          "SELECT productState FROM AntiVirusProduct WHERE displayName = "
                          "'Windows Defender'",
                          "productState"),
              "397568");
}

}  // namespace
}  // namespace winrm_simulator
