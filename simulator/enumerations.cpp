// Enumerate, Pull and Release against the model: open enumerations, paging and expiry.
#include <algorithm>

#include "simulator/simulator_impl.hpp"

namespace winrm_simulator {

namespace {

namespace http = boost::beast::http;
using wsman_wire::fault;
using wsman_wire::fault_error;

constexpr std::uint32_t invalid_uri_wmi_enum_wql = 2150859003u;  // 0x803381FB
constexpr std::uint32_t quota_max_operations = 2150859174u;      // 0x803381A6

fault fault_from_wmi_error(const wmi_error& error) {
    fault f;
    f.subcode = "w:InvalidParameter";
    f.wmi_code = error.hresult();
    switch (error.hresult()) {
        case wbem_e_invalid_namespace:
            f.reason = "Invalid namespace ";
            break;
        case wbem_e_invalid_class:
            f.reason = "Invalid class ";
            break;
        case wbem_e_invalid_query:
            f.reason = "Invalid query ";
            break;
        case wbem_e_access_denied:
            f.subcode = "w:AccessDenied";
            f.reason = "Access denied ";
            break;
        default:
            f.reason = "Generic failure ";
            f.code = "s:Receiver";
    }
    return f;
}

wsman_wire::instance wire_instance(const rendered_instance& row) {
    wsman_wire::instance out;
    out.reserve(row.size());
    for (const auto& [name, value] : row) {
        wsman_wire::property p;
        p.name = name;
        p.nil = value.kind == property_value::type::null;
        p.type = value.kind == property_value::type::datetime ? wsman_wire::property::form::datetime
                                                              : wsman_wire::property::form::plain;
        p.values = value.items;
        out.push_back(std::move(p));
    }
    return out;
}

void expire(std::map<std::string, enumeration>& open, sim_clock::time_point now,
            std::chrono::milliseconds timeout) {
    std::erase_if(open, [&](const auto& item) { return now - item.second.last_used > timeout; });
}

}  // namespace

wsman_wire::page simulator::impl::page_of(const enumeration& e, std::size_t count) const {
    wsman_wire::page page;
    page.class_name = e.result->class_name;
    page.namespace_name = e.namespace_name;
    page.fragment = e.result->fragment;
    for (std::size_t i = e.next; i < e.next + count && i < e.result->rows.size(); ++i) {
        page.items.push_back(wire_instance(e.result->rows[i]));
    }
    return page;
}

soap_reply simulator::impl::fault_reply(const std::string& relates_to, const fault& f) const {
    log("fault " + f.subcode + ": " + f.reason);
    return {http::status::internal_server_error,
            wsman_wire::write_fault(relates_to, f, model_.machine_name())};
}

soap_reply simulator::impl::answer(const wsman_wire::request& request, const std::string& user) {
    try {
        const model_time time{started_, options_.clock()};
        std::lock_guard lock(enumerations_mutex_);
        expire(enumerations_, time.now, options_.enumeration_timeout);
        if (request.action == wsman_wire::action::enumerate) return enumerate(request, user, time);
        return pull_or_release(request, user, time);
    } catch (const fault_error& error) {
        return fault_reply(request.message_id, error.fault());
    }
}

soap_reply simulator::impl::enumerate(const wsman_wire::request& request, const std::string& user,
                                      const model_time& time) {
    if (!request.filter) {
        throw fault_error({"s:Sender",
                           "w:InvalidParameter",
                           "The service enumerates WMI only with a WQL filter.",
                           invalid_uri_wmi_enum_wql,
                           {}});
    }
    if (!iequals(request.filter_dialect.value_or(""), wsman_wire::ns::wql_dialect)) {
        throw fault_error({"s:Sender",
                           "w:FilterDialectRequestedUnavailable",
                           "The requested filter dialect is not supported.",
                           {},
                           {}});
    }
    enumeration e;
    e.namespace_name = wsman_wire::namespace_from_resource_uri(request.resource_uri);
    try {
        e.result = std::make_shared<query_result>(
            run_query(model_, e.namespace_name, *request.filter, time));
    } catch (const wmi_error& error) {
        throw fault_error(fault_from_wmi_error(error));
    }
    e.owner = user;
    e.last_used = time.now;
    log("Enumerate " + e.namespace_name + ": " + *request.filter + " -> " +
        std::to_string(e.result->rows.size()) + " item(s)");
    const auto held = std::count_if(enumerations_.begin(), enumerations_.end(),
                                    [&](const auto& item) { return item.second.owner == user; });
    if (static_cast<std::size_t>(held) >= options_.max_enumerations_per_user) {
        // Windows words it so, with the code in f:WSManFault; its clients must not rely on
        // InternalError arriving without a code.
        throw fault_error({"s:Receiver",
                           "w:InternalError",
                           "The WS-Management service cannot process the request. This user is "
                           "allowed a maximum number of " +
                               std::to_string(options_.max_enumerations_per_user) +
                               " concurrent operations, which has been exceeded. Close existing "
                               "operations for this user, or raise the quota for this user. ",
                           quota_max_operations,
                           {}});
    }
    const std::string& relates_to = request.message_id;
    if (!request.optimize) {
        const std::string context = wsman_wire::new_message_id();
        enumerations_.emplace(context, std::move(e));
        return {http::status::ok,
                wsman_wire::write_enumerate_response(relates_to, context, nullptr, false)};
    }
    const std::size_t count =
        std::min<std::uint64_t>(options_.first_page_size, request.max_elements.value_or(1));
    const wsman_wire::page page = page_of(e, count);
    e.next = page.items.size();
    if (e.next >= e.result->rows.size()) {
        return {http::status::ok,
                wsman_wire::write_enumerate_response(relates_to, "", &page, true)};
    }
    const std::string context = wsman_wire::new_message_id();
    std::string reply = wsman_wire::write_enumerate_response(relates_to, context, &page, false);
    enumerations_.emplace(context, std::move(e));
    return {http::status::ok, std::move(reply)};
}

soap_reply simulator::impl::pull_or_release(const wsman_wire::request& request,
                                            const std::string& user, const model_time& time) {
    const auto it = enumerations_.find(request.enumeration_context);
    if (it == enumerations_.end() || it->second.owner != user) {
        throw fault_error({"s:Receiver",
                           "n:InvalidEnumerationContext",
                           "The enumeration context is not valid or has expired.",
                           {},
                           {}});
    }
    if (request.action == wsman_wire::action::release) {
        enumerations_.erase(it);
        return {http::status::ok, wsman_wire::write_release_response(request.message_id)};
    }
    enumeration e = std::move(it->second);
    enumerations_.erase(it);
    const std::size_t count =
        std::min<std::uint64_t>(options_.page_size, request.max_elements.value_or(1));
    const wsman_wire::page page = page_of(e, count);
    e.next += page.items.size();
    e.last_used = time.now;
    if (e.next >= e.result->rows.size()) {
        return {http::status::ok,
                wsman_wire::write_pull_response(request.message_id, "", page, true)};
    }
    // Windows hands out a fresh context with every PullResponse.
    const std::string context = wsman_wire::new_message_id();
    std::string reply = wsman_wire::write_pull_response(request.message_id, context, page, false);
    enumerations_.emplace(context, std::move(e));
    return {http::status::ok, std::move(reply)};
}

}  // namespace winrm_simulator
