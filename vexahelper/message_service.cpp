#include "libvexahelper/message_service.hpp"

#include <utility>

namespace libvexahelper {

message_service_interface::~message_service_interface() = default;

message_service::message_service(std::function<void(void*, unsigned int)> deliver)
    : deliver_(std::move(deliver)) {}

void message_service::send(const vexa_message& message) {
    std::vector<char> bytes = message.serialize();
    deliver_(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

}  // namespace libvexahelper
