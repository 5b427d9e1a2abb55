#include "simulator/script.hpp"

#include <memory>
#include <mutex>
#include <stdexcept>

namespace winrm_simulator {

fault_plan parse_fault_plan(const std::string& text) {
    fault_plan plan;
    auto& reply = plan.reply;
    if (text == "none") return plan;
    if (text == "wrong-credentials") {
        reply.fault = reply_fault::refuse_logon;
    } else if (text == "drop") {
        reply.fault = reply_fault::drop;
    } else if (text == "malformed-xml") {
        reply.fault = reply_fault::malformed_xml;
    } else if (text == "server-error") {
        reply.fault = reply_fault::http_error;
    } else if (text.rfind("slow:", 0) == 0) {
        reply.fault = reply_fault::slow;
        const std::string ms = text.substr(5);
        std::size_t used = 0;
        long long value = -1;
        try {
            value = std::stoll(ms, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (ms.empty() || used != ms.size() || value < 0) {
            throw std::invalid_argument("slow:<milliseconds> needs a non-negative number");
        }
        reply.delay = std::chrono::milliseconds(value);
    } else {
        throw std::invalid_argument("unknown fault \"" + text +
                                    "\"; expected none, wrong-credentials, slow:<ms>, drop, "
                                    "malformed-xml or server-error");
    }
    return plan;
}

request_script script_of(const fault_plan& plan) {
    if (plan.reply.fault == reply_fault::none) return {};
    // Logon legs count only for a logon fault, SOAP requests only for the others.
    auto remaining = std::make_shared<std::uint32_t>(plan.count);
    return [plan, remaining](const request_info& request) -> scripted_reply {
        const bool logon = request.action == "logon";
        if (logon && plan.reply.fault != reply_fault::refuse_logon) return {};
        if (plan.count != 0) {
            if (*remaining == 0) return {};
            --*remaining;
        }
        return plan.reply;
    };
}

}  // namespace winrm_simulator
