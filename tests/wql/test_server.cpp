#include "test_server.hpp"

#include <sys/socket.h>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <pugixml.hpp>

#include <sys/stat.h>
#include <unistd.h>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "base64_text.hpp"
#include "gss_context.hpp"
#include "winrm_framing.hpp"

namespace wql_test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

const std::string& user_file() {
    static const std::string path = "/tmp/wql_test_" + std::to_string(::getpid()) + "/ntlm_users";
    return path;
}

}  // namespace

void add_ntlm_user(const std::string& domain, const std::string& user,
                   const std::string& password) {
    ensure_ntlm_environment();
    std::ofstream(user_file(), std::ios::app) << domain << ":" << user << ":" << password << "\n";
}

void ensure_ntlm_environment() {
    static std::once_flag once;
    std::call_once(once, [] {
        static const std::string dir = "/tmp/wql_test_" + std::to_string(::getpid());
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        });
        ::mkdir(dir.c_str(), 0700);
        const std::string& users = user_file();
        std::ofstream(users) << test_domain << ":" << test_user << ":" << test_password << "\n";
        const std::string krb5 = dir + "/krb5.conf";
        std::ofstream(krb5) << "";
        ::setenv("NTLM_USER_FILE", users.c_str(), 1);
        // A Kerberos test program sets up its own realm first; keep that one.
        ::setenv("KRB5_CONFIG", krb5.c_str(), 0);
        ::setenv("NETBIOS_COMPUTER_NAME", "TESTHOST", 1);
        ::setenv("NETBIOS_DOMAIN_NAME", test_domain, 1);
    });
}

namespace {


std::string local(const char* name) {
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

request_view view_of(const std::string& soap) {
    request_view v;
    v.soap = soap;
    pugi::xml_document doc;
    doc.load_string(soap.c_str());
    for (auto n : doc.select_nodes("//*")) {
        const auto name = local(n.node().name());
        if (name == "Action") {
            const std::string uri = n.node().text().get();
            v.action = uri.substr(uri.rfind('/') + 1);
        }
        if (name == "EnumerationContext") v.context = n.node().text().get();
        if (name == "MessageID") v.message_id = n.node().text().get();
        if (name == "Filter") v.filter = n.node().text().get();
    }
    return v;
}

std::string envelope(const std::string& relates_to, const std::string& action,
                     const std::string& body) {
    return R"(<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" )"
           R"(xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing" )"
           R"(xmlns:n="http://schemas.xmlsoap.org/ws/2004/09/enumeration" )"
           R"(xmlns:w="http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd" )"
           R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><s:Header><a:Action>)" +
           action + "</a:Action><a:RelatesTo>" + relates_to + "</a:RelatesTo></s:Header><s:Body>" +
           body + "</s:Body></s:Envelope>";
}

}  // namespace

std::string enumerate_response(const std::string& relates_to, const std::string& items_xml,
                               const std::string& context, bool end) {
    return envelope(relates_to,
                    "http://schemas.xmlsoap.org/ws/2004/09/enumeration/EnumerateResponse",
                    "<n:EnumerateResponse><n:EnumerationContext>" + (end ? "" : context) +
                        "</n:EnumerationContext><w:Items>" + items_xml + "</w:Items>" +
                        (end ? "<w:EndOfSequence/>" : "") + "</n:EnumerateResponse>");
}

std::string pull_response(const std::string& relates_to, const std::string& items_xml,
                          const std::string& context, bool end) {
    return envelope(
        relates_to, "http://schemas.xmlsoap.org/ws/2004/09/enumeration/PullResponse",
        "<n:PullResponse>" +
            (end ? "" : "<n:EnumerationContext>" + context + "</n:EnumerationContext>") +
            "<n:Items>" + items_xml + "</n:Items>" + (end ? "<n:EndOfSequence/>" : "") +
            "</n:PullResponse>");
}

std::string fault_response(const std::string& relates_to, const std::string& subcode,
                           const std::string& code, const std::string& message) {
    return envelope(
        relates_to, "http://schemas.dmtf.org/wbem/wsman/1/wsman/fault",
        "<s:Fault><s:Code><s:Value>s:Receiver</s:Value><s:Subcode><s:Value>" + subcode +
            "</s:Value></s:Subcode></s:Code><s:Reason><s:Text>reason</s:Text></s:Reason>"
            "<s:Detail><f:WSManFault xmlns:f=\"http://schemas.microsoft.com/wbem/wsman/1/"
            "wsmanfault\" Code=\"" +
            code + "\"><f:Message>" + message + "</f:Message></f:WSManFault></s:Detail></s:Fault>");
}

std::string fragment(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string xml = "<w:XmlFragment>";
    for (const auto& [name, value] : fields) {
        if (value == "\x01nil") {
            xml += "<" + name + " xsi:nil=\"true\"/>";
        } else {
            pugi::xml_document doc;
            doc.append_child(name.c_str()).text().set(value.c_str());
            std::ostringstream out;
            doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
            xml += out.str();
        }
    }
    return xml + "</w:XmlFragment>";
}

struct test_server::impl {
    asio::io_context io;
    tcp::acceptor acceptor{io};
    std::mutex hang_mutex;
    std::condition_variable hang_cv;
};

test_server::test_server(handler h) : handler_(std::move(h)), impl_(std::make_unique<impl>()) {
    ensure_ntlm_environment();
    tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
    impl_->acceptor.open(endpoint.protocol());
    impl_->acceptor.set_option(tcp::acceptor::reuse_address(true));
    impl_->acceptor.bind(endpoint);
    impl_->acceptor.listen();
    port_ = impl_->acceptor.local_endpoint().port();
    acceptor_thread_ = std::thread([this] {
        while (!stopping_) {
            beast::error_code ec;
            tcp::socket socket(impl_->io);
            impl_->acceptor.accept(socket, ec);
            if (ec || stopping_) break;
            const int fd = socket.release(ec);
            if (ec) continue;
            ++connections_;
            std::lock_guard lock(mutex_);
            open_fds_.push_back(fd);
            threads_.emplace_back([this, fd] { serve(fd); });
        }
    });
}

test_server::~test_server() {
    stopping_ = true;
    impl_->hang_cv.notify_all();
    ::shutdown(impl_->acceptor.native_handle(), SHUT_RDWR);
    kill_connections();
    acceptor_thread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
    }
    for (auto& t : threads) t.join();
}

void test_server::kill_connections() {
    std::lock_guard lock(mutex_);
    for (int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
}

void test_server::serve(int fd) {
    asio::io_context io;
    tcp::socket socket(io, tcp::v4(), fd);
    beast::flat_buffer buffer;
    std::optional<libwql::detail::gss_context> context;
    std::string scheme = "Negotiate";
    auto send = [&](http::response<http::string_body>& res) {
        res.prepare_payload();
        beast::error_code ec;
        http::write(socket, res, ec);
        return !ec;
    };
    for (;;) {
        http::request<http::string_body> req;
        beast::error_code ec;
        http::read(socket, buffer, req, ec);
        if (ec) break;
        http::response<http::string_body> res{http::status::ok, 11};
        res.keep_alive(true);
        const std::string auth(req[http::field::authorization]);
        if (!auth.empty()) {
            // A new Authorization header always starts a new handshake on this socket.
            if (!context || context->established()) {
                context = libwql::detail::gss_context::acceptor();
            }
            const auto space = auth.find(' ');
            scheme = auth.substr(0, space);
            std::string out;
            try {
                out = context->step(
                    base64_text::decode(auth.substr(space + 1)).value_or(std::string()));
            } catch (const std::exception&) {
                context.reset();
                res.result(http::status::unauthorized);
                res.set(http::field::www_authenticate, scheme);
                if (!send(res)) break;
                continue;
            }
            if (!context->established()) res.result(http::status::unauthorized);
            if (context->established()) ++handshakes_;
            res.set(http::field::www_authenticate,
                    out.empty() ? scheme : scheme + " " + base64_text::encode(out));
            if (!send(res)) break;
            continue;
        }
        if (!context || !context->established()) {
            res.result(http::status::unauthorized);
            res.set(http::field::www_authenticate, "Negotiate");
            if (!send(res)) break;
            continue;
        }
        std::string soap;
        try {
            const auto sealed = winrm_framing::parse_body(req.body());
            soap = context->unseal(sealed.header, sealed.data);
        } catch (const std::exception&) {
            res.result(http::status::bad_request);
            send(res);
            break;
        }
        const auto plan = handler_(view_of(soap));
        using how = reply_plan::how;
        if (plan.mode == how::close_now) break;
        if (plan.mode == how::hang) {
            std::unique_lock lock(impl_->hang_mutex);
            impl_->hang_cv.wait(lock, [this] { return stopping_.load(); });
            break;
        }
        if (plan.mode == how::lose_context) {
            context.reset();
            res.result(http::status::unauthorized);
            res.set(http::field::www_authenticate, "Negotiate");
            if (!send(res)) break;
            continue;
        }
        res.result(plan.status);
        if (plan.mode == how::plaintext) {
            res.set(http::field::content_type, "application/soap+xml;charset=UTF-8");
            res.body() = plan.soap;
        } else {
            const auto protocol = scheme == "Kerberos" ? winrm_framing::kerberos_protocol
                                                       : winrm_framing::spnego_protocol;
            winrm_framing::sealed_message m;
            m.protocol = std::string(protocol);
            m.original_type = std::string(winrm_framing::soap_content_type);
            m.original_length = plan.soap.size();
            std::tie(m.header, m.data) = context->seal(plan.soap);
            if (plan.mode == how::garbage_sealed) {
                for (auto& c : m.data) c = static_cast<char>(c ^ 0x5A);
            }
            res.set(http::field::content_type, winrm_framing::content_type(protocol));
            res.body() = winrm_framing::build_body(m);
        }
        if (plan.mode == how::truncate) {
            res.prepare_payload();
            http::response_serializer<http::string_body> sr(res);
            http::write_header(socket, sr, ec);
            const auto& body = res.body();
            asio::write(socket, asio::buffer(body.data(), body.size() / 2), ec);
            break;
        }
        if (!send(res)) break;
    }
    beast::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    std::lock_guard lock(mutex_);
    std::erase(open_fds_, fd);
    socket.close(ignored);
}

}  // namespace wql_test

extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
