#pragma once

// Reading the data files: each accessor names the file and entry of the first problem it meets,
// so a build that refuses the data says where to look.

#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace wmi::document::generator {

// Names the place of a problem, e.g. "groups.json: group 'print_queue_group', setting 'paused'".
class where {
public:
    explicit where(std::string file);
    where(const where& parent, const std::string& what, const std::string& name);

    [[noreturn]] void fail(const std::string& problem) const;

private:
    std::string text_;
    bool nested_ = false;
};

const nlohmann::json& member(const nlohmann::json& object, const char* name, const where& at);
std::string string_member(const nlohmann::json& object, const char* name, const where& at,
                          bool may_be_empty = false);
// Distinct non-empty strings.
std::vector<std::string> string_list(const nlohmann::json& object, const char* name,
                                     const where& at, bool may_be_empty = false);
long long integer_member(const nlohmann::json& object, const char* name, const where& at);
const nlohmann::json& array_member(const nlohmann::json& object, const char* name, const where& at);

void require_one_of(const std::string& value, const std::set<std::string>& allowed,
                    const std::string& what, const where& at);
void require_known(const std::string& name, const std::set<std::string>& known,
                   const std::string& what, const where& at);
// An entry's "Name", lower_snake_case and not yet among `defined`; `at` names the entry.
struct named_entry {
    std::string name;
    where at;
};
named_entry entry_named(const nlohmann::json& entry, const where& file_at, const std::string& what,
                        const nlohmann::ordered_json& defined);

// Kind names, setting names and option values become keys, settings paths and C++ names, so
// they must be lower_snake_case without the "." that separates key components.
void require_identifier(const std::string& name, const where& at);

}  // namespace wmi::document::generator
