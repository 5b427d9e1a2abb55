#pragma once

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "framework/request_base.hpp"
#include "libi18n/i18n.hpp"
#include "libvexahelper/messages.hpp"
#include "libvexahelper/sensor_interface.hpp"

namespace libvexahelper::metascans {

// A meta-scan lives for one ExecuteMetaScan: built, scanned once, destroyed. work() sends one
// meta_scan_result; the wrapper turns a translatable or standard exception into an error
// result with response code 5.
template <typename Settings>
class metascan_base : public request_base<metascan_interface, Settings> {
    using base = request_base<metascan_interface, Settings>;

public:
    metascan_base(std::shared_ptr<service_container> container, unsigned int request, int id,
                  Settings settings)
        : base(std::move(container), id, std::move(settings)), request_(request) {}

    unsigned int get_request() const override { return request_; }

    void scan() override {
        try {
            work();
        } catch (const libi18n::i18n_exception& e) {
            this->log_debug(e.what());
            this->send(meta_scan_result(this->get_id(), request_, e)
                           .response(scan_response_codes::metascan_error));
        } catch (const std::exception& e) {
            this->log_debug(e.what());
            this->send(meta_scan_result(this->get_id(), request_, e)
                           .response(scan_response_codes::metascan_error));
        }
    }

    virtual void work() = 0;

protected:
    meta_scan_result result() const { return meta_scan_result(this->get_id(), request_); }
    void progress(int value, const std::string& text) {
        this->send(metascan_progress(this->get_id(), request_, value, text));
    }
    // Progress carries the message's English text: the host shows it while the meta-scan runs.
    void progress(int value, const libi18n::i18n_msg& text) { progress(value, text.text); }
    // The same step in the meta-scan's log too, at level 7.
    void logged_progress(int value, const libi18n::i18n_msg& text) {
        this->log_debug(text.text);
        progress(value, text);
    }

private:
    unsigned int request_;
};

}  // namespace libvexahelper::metascans
