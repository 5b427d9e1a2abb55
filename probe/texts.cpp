#include "texts.hpp"

#include <stdexcept>

#include "libstringutils/format.hpp"

namespace wmiprobe {

namespace {

constexpr std::string_view encoded_prefix = "#:";

const nlohmann::json* translation_of(const nlohmann::json& document, const std::string& language) {
    const auto text = document.find("Text");
    if (text == document.end() || !text->is_object()) {
        return nullptr;
    }
    const auto table = text->find(language);
    if (table == text->end() || !table->is_object()) {
        return nullptr;
    }
    const auto translation = table->find("Translation");
    if (translation == table->end() || !translation->is_object()) {
        return nullptr;
    }
    return &*translation;
}

std::optional<std::string> display_of(const nlohmann::json& table, const std::string& key) {
    const auto entry = table.find(key);
    if (entry == table.end() || !entry->is_object()) {
        return std::nullopt;
    }
    const auto display = entry->find("Display");
    if (display == entry->end() || !display->is_string()) {
        return std::nullopt;
    }
    return display->get<std::string>();
}

// Just past the closing bracket of the encoded part that starts at `from` ("#:key[...]"), or
// npos when the part has no unescaped closing bracket.
std::size_t part_end(const std::string& key, std::size_t from) {
    const std::size_t open = key.find('[', from);
    if (open == std::string::npos) {
        return std::string::npos;
    }
    for (std::size_t i = open + 1; i < key.size(); ++i) {
        if (key[i] == '\\') {
            ++i;
        } else if (key[i] == ']') {
            return i + 1;
        }
    }
    return std::string::npos;
}

}  // namespace

std::optional<decoded_key> decode_key(const std::string& encoded) {
    if (encoded.rfind(encoded_prefix, 0) != 0) {
        return decoded_key{encoded, {}};
    }
    const std::size_t open = encoded.find('[', encoded_prefix.size());
    if (open == std::string::npos) {
        return decoded_key{encoded.substr(encoded_prefix.size()), {}};
    }
    decoded_key result{encoded.substr(encoded_prefix.size(), open - encoded_prefix.size()), {}};
    std::string current;
    bool closed = false;
    for (std::size_t i = open + 1; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '\\') {
            if (++i == encoded.size()) {
                return std::nullopt;
            }
            current += encoded[i];
        } else if (c == ',') {
            result.arguments.push_back(std::move(current));
            current.clear();
        } else if (c == ']') {
            if (i + 1 != encoded.size()) {
                return std::nullopt;
            }
            closed = true;
        } else {
            current += c;
        }
    }
    if (!closed) {
        return std::nullopt;
    }
    // "[]" carries no argument; "[a]" one, "[a,]" two (the second empty).
    if (!(result.arguments.empty() && current.empty() && encoded[open + 1] == ']')) {
        result.arguments.push_back(std::move(current));
    }
    return result;
}

text_table::text_table(const nlohmann::json& document, const std::string& language)
    : language_(language) {
    const nlohmann::json* english = translation_of(document, "English");
    const nlohmann::json* chosen = translation_of(document, language);
    if (chosen == nullptr) {
        std::string known;
        for (const auto& name : languages(document)) {
            known += (known.empty() ? "" : ", ") + name;
        }
        throw std::invalid_argument("the module has no texts in language '" + language +
                                    "' (it has: " + (known.empty() ? "none" : known) + ")");
    }
    chosen_ = *chosen;
    english_ = english != nullptr ? *english : nlohmann::json::object();
}

std::vector<std::string> text_table::languages(const nlohmann::json& document) {
    std::vector<std::string> names;
    const auto text = document.find("Text");
    if (text != document.end() && text->is_object()) {
        for (const auto& [name, table] : text->items()) {
            names.push_back(name);
        }
    }
    return names;
}

std::optional<std::string> text_table::lookup(const std::string& key) const {
    if (auto chosen = display_of(chosen_, key)) {
        return chosen;
    }
    return display_of(english_, key);
}

std::optional<std::string> text_table::render(const std::string& encoded_key) const {
    // Several encoded parts joined by plain separators ("#:a[1] #:b[],#:c[]"): each part is
    // rendered, the separators are kept, and one part that does not render spoils the whole.
    const std::size_t first_end =
        encoded_key.rfind(encoded_prefix, 0) == 0 ? part_end(encoded_key, 0) : std::string::npos;
    if (first_end != std::string::npos && first_end < encoded_key.size()) {
        std::string shown;
        for (std::size_t i = 0; i < encoded_key.size();) {
            if (encoded_key.compare(i, encoded_prefix.size(), encoded_prefix) != 0) {
                shown += encoded_key[i++];
                continue;
            }
            const std::size_t end = part_end(encoded_key, i);
            const auto part =
                end == std::string::npos ? std::nullopt : render(encoded_key.substr(i, end - i));
            if (!part) {
                return std::nullopt;
            }
            shown += *part;
            i = end;
        }
        return shown;
    }
    const auto decoded = decode_key(encoded_key);
    if (!decoded || decoded->key.empty()) {
        return std::nullopt;
    }
    // A translation whose placeholders do not fit falls back to the English template.
    for (const auto& table : {&chosen_, &english_}) {
        const auto templ = display_of(*table, decoded->key);
        if (!templ) {
            continue;
        }
        try {
            return libstringutils::format(*templ, decoded->arguments);
        } catch (const std::exception&) {
        }
    }
    return std::nullopt;
}

std::string text_table::render_message(const nlohmann::json& text) const {
    if (!text.is_object()) {
        return text.is_string() ? text.get<std::string>() : std::string();
    }
    const auto key = text.find("key");
    if (key != text.end() && key->is_string()) {
        if (auto shown = render(key->get<std::string>())) {
            return *shown;
        }
    }
    const auto english = text.find("text");
    return english != text.end() && english->is_string() ? english->get<std::string>()
                                                         : std::string();
}

}  // namespace wmiprobe
