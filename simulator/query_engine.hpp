#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/machine_model.hpp"

namespace winrm_simulator {

// WMI HRESULTs the target reports for queries.
inline constexpr std::uint32_t wbem_e_access_denied = 0x80041003;
inline constexpr std::uint32_t wbem_e_invalid_namespace = 0x8004100E;
inline constexpr std::uint32_t wbem_e_invalid_class = 0x80041010;
inline constexpr std::uint32_t wbem_e_invalid_query = 0x80041017;

// A query the target refuses, carried to the SOAP layer as a WMI fault.
class wmi_error : public std::runtime_error {
public:
    wmi_error(std::uint32_t hresult, const std::string& detail)
        : std::runtime_error(detail), hresult_(hresult) {}
    std::uint32_t hresult() const { return hresult_; }

private:
    std::uint32_t hresult_;
};

struct query_result {
    std::string class_name;  // spelling of the model
    // true for SELECT <fields>: rendered as an XML fragment of unqualified elements.
    bool fragment = false;
    std::vector<rendered_instance> rows;  // selected properties only, alphabetical
};

// Runs one WQL SELECT against a namespace of the model at the given moment.
query_result run_query(const machine_model& model, std::string_view namespace_name,
                       std::string_view wql, const model_time& time);

}  // namespace winrm_simulator
