#include "sensors/disk_io_metascan.hpp"

#include "wmi_access/accessors.hpp"

namespace wmi {

template <typename Twin>
void disk_io_metascan<Twin>::work() {
    auto result = this->result();
    this->progress(100, *Twin::querying);
    const auto rows = this->open_session().rows(query_);
    if (rows.empty()) throw typename Twin::none_found();
    for (const auto& row : rows) {
        const auto name = access::selected_text(row, "Name");
        result.add_entry((*Twin::instance_name)(name),
                         entry_values<typename Twin::group>({{"name", name}}));
    }
    this->send(result);
}

template class disk_io_metascan<logical_disk>;
template class disk_io_metascan<physical_disk>;

}  // namespace wmi
