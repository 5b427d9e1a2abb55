#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace wmiprobe {

// A translation key split into its base key and arguments.
struct decoded_key {
    std::string key;
    std::vector<std::string> arguments;
    bool operator==(const decoded_key&) const = default;
};

// Splits "#:base.key[a,b]" (arguments escaped with a backslash before \ # [ ] , :) into its
// parts; a key without the "#:" prefix is returned as it is, without arguments. Returns nothing
// for a malformed encoded key (no closing bracket, text after it, a dangling backslash).
std::optional<decoded_key> decode_key(const std::string& encoded);

// The `Text` tables of the module information document for one language, with English as the
// fallback for every key the language does not translate.
class text_table {
public:
    // `document` is the module information document with its `Text` member. Throws
    // std::invalid_argument naming the known languages when `language` has no table.
    text_table(const nlohmann::json& document, const std::string& language);

    const std::string& language() const { return language_; }
    static std::vector<std::string> languages(const nlohmann::json& document);

    // The raw template of `key` in the chosen language, else English, else nothing.
    std::optional<std::string> lookup(const std::string& key) const;

    // The text to show for an encoded or plain key: the template formatted with the key's
    // arguments ("%%" becomes "%"); a key of several encoded parts with plain separators
    // between them renders part by part. Nothing when the key (or one part) is malformed,
    // unknown in both tables, or its template does not fit the arguments.
    std::optional<std::string> render(const std::string& encoded_key) const;

    // A translatable text of a message ({"key", "text"}, or null): the translation when the
    // key renders, else the English `text` the module sent.
    std::string render_message(const nlohmann::json& text) const;

private:
    std::string language_;
    nlohmann::json chosen_;
    nlohmann::json english_;
};

}  // namespace wmiprobe
