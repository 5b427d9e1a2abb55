#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace wmiprobe {

struct http_answer {
    unsigned int status = 200;
    std::string content_type = "text/plain; charset=utf-8";
    std::string body;
};

// Answers a request's method and target (path with query); runs on the server's thread.
using http_handler =
    std::function<http_answer(const std::string& method, const std::string& target)>;

// A small HTTP/1.1 server on one thread of its own: one request per connection, a slow or idle
// client is cut off after a few seconds, a request with a body or large headers is refused.
class http_server {
public:
    // `listen` is "ADDRESS:PORT" ("[ADDRESS]:PORT" for IPv6); port 0 lets the OS pick.
    // Throws std::invalid_argument for a bad address and std::runtime_error when it cannot
    // listen there.
    http_server(const std::string& listen, http_handler handler);
    ~http_server();
    http_server(const http_server&) = delete;
    http_server& operator=(const http_server&) = delete;

    std::uint16_t port() const;
    // Stops accepting, closes open connections and joins the thread. Idempotent.
    void stop();

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

}  // namespace wmiprobe
