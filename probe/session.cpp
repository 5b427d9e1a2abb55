#include "session.hpp"

#include <ostream>

namespace wmiprobe {

namespace {

nlohmann::json information_document(const std::string& raw) {
    nlohmann::json message = nlohmann::json::parse(raw, nullptr, false);
    if (!message.is_object() || !message.contains("document") || !message["document"].is_object()) {
        throw module_error("the module information message is not a JSON object");
    }
    return std::move(message["document"]);
}

}  // namespace

session::session(const options& opts, std::ostream& out, std::ostream& err)
    : opts_(opts),
      out_(out),
      err_(err),
      host_(opts.module_path.empty() ? default_module_path()
                                     : std::filesystem::path(opts.module_path)),
      information_raw_(host_.module_information(true)),
      catalogue_(information_document(information_raw_)),
      texts_(catalogue_.document(), opts.language) {}

nlohmann::json session::lookups() const {
    return catalogue_.document().value("Lookups", nlohmann::json::object());
}

void session::print_raw(const call_outcome& outcome) {
    if (raw()) {
        for (const auto& message : outcome.raw_messages) {
            out_ << message << "\n";
        }
    }
}

void session::print(const verdict& shown) {
    if (!raw()) {
        out_ << shown.out;
    }
    err_ << shown.err;
}

message_observer session::progress_printer() {
    return [this](const nlohmann::json& message) {
        if (!raw() && message.value("type", "") == "metascan_progress") {
            out_ << "  ... " << message.value("progress", 0) << " " << message.value("text", "")
                 << "\n"
                 << std::flush;
        }
    };
}

std::map<std::string, std::string> session::request_settings(
    const kind_entry& kind, const std::vector<std::string>& extra) const {
    auto target = opts_.target;
    target.password = read_password(opts_.password_file);
    std::vector<std::string> assignments = extra;
    assignments.insert(assignments.end(), opts_.assignments.begin(), opts_.assignments.end());
    return build_settings(catalogue_, kind, target, assignments);
}

}  // namespace wmiprobe
