#include "sensors/print_queue_metascan.hpp"

#include "framework/exceptions.hpp"
#include "wmi_access/accessors.hpp"

namespace wmi {

void print_queue_metascan::work() {
    auto result = this->result();
    auto session = open_session();
    logged_progress(50, cat::metascan_querying_print_queues);
    const auto rows = session.rows(query_);
    if (rows.empty()) throw exceptions::no_print_queues_found();
    for (const auto& row : rows) {
        const auto name = access::selected_text(row, "Name");
        result.add_entry(cat::metascan_print_queue_instance_name(name),
                         {{group_key<settings::print_queue_metascan_group>("name"), name}});
    }
    send(result);
}

}  // namespace wmi
