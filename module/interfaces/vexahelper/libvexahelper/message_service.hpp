#pragma once

#include <functional>

#include "libvexahelper/export.hpp"
#include "libvexahelper/messages.hpp"

namespace libvexahelper {

class VEXAHELPER_API message_service_interface {
public:
    virtual ~message_service_interface();
    virtual void send(const vexa_message& message) = 0;
};

// Serialises each message and hands the bytes to the function once, on the calling thread.
// The bytes are only valid during that call.
class VEXAHELPER_API message_service : public message_service_interface {
public:
    explicit message_service(std::function<void(void*, unsigned int)> deliver);
    void send(const vexa_message& message) override;

private:
    std::function<void(void*, unsigned int)> deliver_;
};

}  // namespace libvexahelper
