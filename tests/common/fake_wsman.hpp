#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "libi18n/catalogue.hpp"
#include "libvexahelper/service_container.hpp"
#include "libwql/exceptions.hpp"
#include "libwql/wsman_client.hpp"

// An in-process stand-in for the target behind the WSMan client interface: rows in, queries,
// clients and sessions counted.
namespace fake {

using rows = std::vector<libwql::wql_query_row>;

// Answers and errors are looked up by the whole statement "<namespace>: <WQL>", then by
// "<namespace>: <class>", then by "<class>", then under "", which answers every query.
struct target {
    std::map<std::string, rows> answers;
    // When set, opening a session fails with this text (e.g. wrong credentials).
    std::string refuse;
    // Queries that throw the client's typed error of this name: "invalid_class",
    // "invalid_namespace", "access_denied" or "dead_session".
    std::map<std::string, std::string> fail_with;

    int clients_made = 0;
    int sessions_opened = 0;
    int sessions_open = 0;
    std::vector<std::string> queries;  // "<namespace>: <wql>"
    libwql::wsman_connection_parameters last_parameters;
};

// Any name but these three is access denied.
[[noreturn]] inline void throw_client_error(const std::string& name) {
    namespace cat = libi18n::catalogue;
    if (name == "invalid_class") throw libwql::exceptions::invalid_class_error("no such class");
    if (name == "invalid_namespace") {
        throw libwql::exceptions::invalid_namespace_error("no such namespace");
    }
    if (name == "dead_session") {
        throw libi18n::i18n_exception(cat::libwql_error_dead_session("endpoint", "reset"));
    }
    throw libi18n::i18n_exception(cat::libwql_error_access_denied("denied"));
}

// The entry of `table` for a query of `wql` in `ns`, or nullptr.
template <typename Value>
const Value* entry_for(const std::map<std::string, Value>& table, const std::string& wql,
                       const std::string& ns) {
    const auto from = wql.find(" FROM ");
    std::string wmi_class;
    if (from != std::string::npos) {
        wmi_class = wql.substr(from + 6);
        wmi_class = wmi_class.substr(0, wmi_class.find(' '));
    }
    for (const auto& key : {ns + ": " + wql, ns + ": " + wmi_class, wmi_class, std::string()}) {
        if (const auto it = table.find(key); it != table.end()) return &it->second;
    }
    return nullptr;
}

class session : public libwql::wmi_session_interface {
public:
    explicit session(target& t) : target_(t) { ++target_.sessions_open; }
    ~session() override { --target_.sessions_open; }
    std::unique_ptr<libwql::wql_query_result_interface> query(const std::string& wql,
                                                              const std::string& ns) override {
        target_.queries.push_back(ns + ": " + wql);
        if (const auto* error = entry_for(target_.fail_with, wql, ns)) throw_client_error(*error);
        const auto* answer = entry_for(target_.answers, wql, ns);
        return std::make_unique<result>(answer != nullptr ? *answer : rows{});
    }

private:
    struct result : libwql::wql_query_result_interface {
        explicit result(rows r) : rows_(std::move(r)) {}
        const rows& get_rows() const override { return rows_; }
        rows rows_;
    };
    target& target_;
};

class client : public libwql::wsman_client_interface {
public:
    explicit client(std::shared_ptr<target> t) : target_(std::move(t)) {}
    std::unique_ptr<libwql::wmi_session_interface> open_session(
        const libwql::wsman_connection_parameters& p) override {
        target_->last_parameters = p;
        if (!target_->refuse.empty()) throw std::runtime_error(target_->refuse);
        ++target_->sessions_opened;
        return std::make_unique<session>(*target_);
    }

private:
    std::shared_ptr<target> target_;
};

// Makes every client the container hands out talk to `t`.
inline void register_client(libvexahelper::service_container& container,
                            const std::shared_ptr<target>& t) {
    container.register_factory<libwql::wsman_client_interface>([t] {
        ++t->clients_made;
        return std::make_unique<client>(t);
    });
}

// Rows from a JSON array of objects of field texts; null is a NULL field, and texts of the
// form "YYYY-MM-DDT..." are datetimes.
inline rows rows_of(const nlohmann::json& list) {
    rows result;
    for (const auto& fields : list) {
        auto& r = result.emplace_back();
        for (const auto& [name, value] : fields.items()) {
            if (value.is_null()) {
                r.set(libwql::wql_query_field::null(name));
                continue;
            }
            const auto text = value.get<std::string>();
            const bool datetime = text.size() > 10 && text[4] == '-' && text[10] == 'T';
            r.set(libwql::wql_query_field(name, {text},
                                          datetime ? libwql::wql_query_field::kind::datetime
                                                   : libwql::wql_query_field::kind::scalar));
        }
    }
    return result;
}

}  // namespace fake
