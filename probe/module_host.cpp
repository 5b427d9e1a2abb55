#include "module_host.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <array>

namespace wmiprobe {

namespace {

using callback_t = void (*)(std::uint64_t, void*, unsigned int);

// The collector of the export call running on this thread; the module delivers every message
// on the thread of the call that caused it, so no message can land in another call's list.
struct collector {
    call_outcome* outcome;
    const message_observer* observer;
};
thread_local collector* active_collector = nullptr;

template <typename F>
void bind(void* library, const char* name, F& target) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        throw module_error("the module does not export " + std::string(name));
    }
    target = reinterpret_cast<F>(symbol);
}

unsigned int checked_size(const std::string& document) {
    if (document.size() > 0xFFFFFFFFu) {
        throw module_error("settings document too large");
    }
    return static_cast<unsigned int>(document.size());
}

}  // namespace

struct module_host::exports {
    int (*GetApiLevel)();
    int (*InitializeModule)(std::uint64_t, callback_t);
    void (*GetModuleInformation)(bool);
    int (*GetModuleInformationSync)(char*, unsigned int*, bool);
    int (*CreateSensorInstance)(int, const void*, unsigned int);
    int (*DestroySensorInstance)(int);
    int (*ExecuteSensorScan)(int);
    int (*ExecuteMetaScan)(int, unsigned int, const void*, unsigned int);
    int (*ExecuteCheck)(int, const void*, unsigned int);
    int (*CleanupModule)();
};

module_host::module_host(const std::filesystem::path& library) : api_(new exports{}) {
    library_ = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char* reason = dlerror();
        throw module_error("cannot load the module " + library.string() + ": " +
                           (reason != nullptr ? reason : "unknown reason"));
    }
    try {
        bind(library_, "GetApiLevel", api_->GetApiLevel);
        bind(library_, "InitializeModule", api_->InitializeModule);
        bind(library_, "GetModuleInformation", api_->GetModuleInformation);
        bind(library_, "GetModuleInformationSync", api_->GetModuleInformationSync);
        bind(library_, "CreateSensorInstance", api_->CreateSensorInstance);
        bind(library_, "DestroySensorInstance", api_->DestroySensorInstance);
        bind(library_, "ExecuteSensorScan", api_->ExecuteSensorScan);
        bind(library_, "ExecuteMetaScan", api_->ExecuteMetaScan);
        bind(library_, "ExecuteCheck", api_->ExecuteCheck);
        bind(library_, "CleanupModule", api_->CleanupModule);
        const int level = api_->GetApiLevel();
        if (level != 6) {
            throw module_error("the module speaks API level " + std::to_string(level) +
                               ", this probe speaks 6");
        }
        // The context is this host, so the callback can file messages that arrive outside a
        // call of ours.
        const int code =
            api_->InitializeModule(reinterpret_cast<std::uintptr_t>(this), &module_host::callback);
        if (code != 0) {
            throw module_error("InitializeModule failed with code " + std::to_string(code));
        }
        initialized_ = true;
    } catch (...) {
        dlclose(library_);
        throw;
    }
}

module_host::~module_host() {
    if (initialized_) {
        api_->CleanupModule();
    }
    dlclose(library_);
}

int module_host::api_level() const { return api_->GetApiLevel(); }

std::string module_host::module_information(bool include_text) const {
    unsigned int size = 0;
    if (api_->GetModuleInformationSync(nullptr, &size, include_text) != 0) {
        throw module_error("GetModuleInformationSync refused the length query");
    }
    // The document never changes, but a second query copes with a module that grows it anyway.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string buffer(size, '\0');
        const int code = api_->GetModuleInformationSync(buffer.data(), &size, include_text);
        if (code == 0) {
            buffer.resize(size);
            return buffer;
        }
        if (code != 1) {
            break;
        }
    }
    throw module_error("GetModuleInformationSync did not deliver the document");
}

void module_host::callback(std::uint64_t context, void* data, unsigned int size) {
    // A C++ exception must not cross the module's frames, so nothing escapes here.
    try {
        const auto* bytes = static_cast<const char*>(data);
        std::string raw(bytes, bytes + size);
        nlohmann::json message = nlohmann::json::parse(raw, nullptr, false);
        collector* target = active_collector;
        if (message.is_discarded() || !message.is_object() || target == nullptr) {
            auto* host = reinterpret_cast<module_host*>(static_cast<std::uintptr_t>(context));
            std::lock_guard lock(host->stray_mutex_);
            host->stray_.push_back(std::move(raw));
            return;
        }
        if (*target->observer) {
            (*target->observer)(message);
        }
        target->outcome->messages.push_back(std::move(message));
        target->outcome->raw_messages.push_back(std::move(raw));
    } catch (...) {
    }
}

call_outcome module_host::run(const std::function<int()>& call, const message_observer& observer) {
    call_outcome outcome;
    collector here{&outcome, &observer};
    collector* outer = active_collector;
    active_collector = &here;
    try {
        outcome.code = call();
    } catch (...) {
        active_collector = outer;
        throw;
    }
    active_collector = outer;
    return outcome;
}

call_outcome module_host::create_sensor(int sensor_id, const std::string& settings_document,
                                        const message_observer& observer) {
    const unsigned int size = checked_size(settings_document);
    return run(
        [&] { return api_->CreateSensorInstance(sensor_id, settings_document.data(), size); },
        observer);
}

call_outcome module_host::destroy_sensor(int sensor_id, const message_observer& observer) {
    return run([&] { return api_->DestroySensorInstance(sensor_id); }, observer);
}

call_outcome module_host::scan_sensor(int sensor_id, const message_observer& observer) {
    return run([&] { return api_->ExecuteSensorScan(sensor_id); }, observer);
}

call_outcome module_host::meta_scan(int sensor_id, unsigned int request,
                                    const std::string& settings_document,
                                    const message_observer& observer) {
    const unsigned int size = checked_size(settings_document);
    return run(
        [&] { return api_->ExecuteMetaScan(sensor_id, request, settings_document.data(), size); },
        observer);
}

call_outcome module_host::check(int sensor_id, const std::string& settings_document,
                                const message_observer& observer) {
    const unsigned int size = checked_size(settings_document);
    return run([&] { return api_->ExecuteCheck(sensor_id, settings_document.data(), size); },
               observer);
}

std::vector<std::string> module_host::stray_messages() const {
    std::lock_guard lock(stray_mutex_);
    return stray_;
}

void* module_host::symbol(const char* name) const { return dlsym(library_, name); }

std::filesystem::path default_module_path() {
    std::array<char, 4096> buffer{};
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return "libwmi.so";
    }
    return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(length)))
               .parent_path() /
           "libwmi.so";
}

}  // namespace wmiprobe
