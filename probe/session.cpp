#include "session.hpp"

#include <ostream>
#include <string>

namespace wmiprobe {

namespace {

nlohmann::json information_document(const std::string& raw) {
    nlohmann::json message = nlohmann::json::parse(raw, nullptr, false);
    if (!message.is_object() || !message.contains("document") || !message["document"].is_object()) {
        throw module_error("the module information message is not a JSON object");
    }
    return std::move(message["document"]);
}

// At most `columns` code points of UTF-8 text, control characters blanked.
std::string first_columns(const std::string& text, std::size_t columns) {
    std::string kept;
    for (const char c : text) {
        const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
        if (!continuation && columns-- == 0) {
            break;
        }
        kept += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return kept;
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
    if (!raw() && !opts_.nagios) {
        out_ << shown.out;
    }
    err_ << shown.err;
}

message_observer session::progress_printer() {
    return [this](const nlohmann::json& message) {
        if (raw() || message.value("type", "") != "metascan_progress") {
            return;
        }
        const std::string line = "  ... " + std::to_string(message.value("progress", 0)) + " " +
                                 message.value("text", "");
        if (!opts_.progress_line) {
            out_ << line << "\n" << std::flush;
            return;
        }
        // Back to the line's start and erase it; kept within a narrow terminal's width, since a
        // wrapped line cannot be rewritten.
        err_ << "\r\033[K" << first_columns(line, 79) << std::flush;
        progress_shown_ = true;
    };
}

void session::end_progress() {
    if (progress_shown_) {
        err_ << "\r\033[K" << std::flush;
        progress_shown_ = false;
    }
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
