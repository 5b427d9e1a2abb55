#include <algorithm>
#include <set>

#include "builder_parts.hpp"
#include "libstringutils/format.hpp"

namespace wmi::document::generator {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

bool glob_match(const std::string& pattern, const std::string& text) {
    // '*' matches any run of characters; patterns are short, so plain backtracking is fine.
    std::size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool matches_any(const std::vector<std::string>& patterns, const std::string& key) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& pattern) { return glob_match(pattern, key); });
}

// The keys a language of the given subset must translate, by the rule in languages.json.
std::set<std::string> subset_keys(const json& subset, const std::string& subset_name,
                                  const text_table& english) {
    const where at(where("languages.json"), "subset", subset_name);
    const bool includes = subset.contains("include");
    if (includes == subset.contains("exclude")) {
        at.fail("must have exactly one of 'include' and 'exclude'");
    }
    const auto patterns = string_list(subset, includes ? "include" : "exclude", at);
    std::set<std::string> keys;
    for (const auto& [key, text] : english) {
        if (matches_any(patterns, key) == includes) keys.insert(key);
    }
    for (const auto& pattern : patterns) {
        const bool used = std::any_of(english.begin(), english.end(), [&](const auto& entry) {
            return glob_match(pattern, entry.first);
        });
        if (!used) at.fail("pattern '" + pattern + "' matches no key");
    }
    return keys;
}

// The placeholders in sorted order, as a translation may move them.
std::vector<std::string> sorted_placeholders(const std::string& text, const where& at) {
    try {
        auto found = libstringutils::placeholders(text);
        std::sort(found.begin(), found.end());
        return found;
    } catch (const libstringutils::exceptions::format_string_error&) {
        at.fail("has a '%' that starts no placeholder in '" + text + "'");
    }
}

ordered_json translation_table(const text_table& texts) {
    ordered_json table = ordered_json::object();
    for (const auto& [key, text] : texts) table[key]["Display"] = text;
    ordered_json language;
    language["Translation"] = table;
    return language;
}

// One language's file: exactly the keys of its subset, each with the English placeholders.
text_table translated_texts(const json& translations, const std::set<std::string>& subset,
                            const std::string& subset_name, const text_table& english,
                            const where& file_at) {
    if (!translations.is_object()) file_at.fail("must be a JSON object of key -> text");
    text_table translated;
    for (const auto& [key, value] : translations.items()) {
        const where key_at(file_at, "key", key);
        const auto english_text = english.find(key);
        if (english_text == english.end()) key_at.fail("is not an English key");
        if (subset.count(key) == 0) {
            key_at.fail("is outside the '" + subset_name + "' subset of this language");
        }
        if (!value.is_string() || value.get<std::string>().empty()) {
            key_at.fail("must have a non-empty text");
        }
        const auto translation = value.get<std::string>();
        if (sorted_placeholders(english_text->second, key_at) !=
            sorted_placeholders(translation, key_at)) {
            key_at.fail("has other placeholders than the English text '" + english_text->second +
                        "'");
        }
        translated.emplace(key, translation);
    }
    for (const auto& key : subset) {
        if (translated.count(key) == 0) file_at.fail("lacks key '" + key + "' of its subset");
    }
    return translated;
}

}  // namespace

void add_text(text_table& table, const std::string& key, const std::string& text, const where& at) {
    if (text.empty()) at.fail("has an empty text for key '" + key + "'");
    if (!table.emplace(key, text).second) at.fail("defines text key '" + key + "' a second time");
}

ordered_json build_text(const source_data& data, const text_table& english) {
    const where at("languages.json");
    const json& subsets = member(data.languages, "subsets", at);
    std::map<std::string, std::set<std::string>> subset_key_sets;
    for (const auto& [name, subset] : subsets.items()) {
        subset_key_sets[name] = subset_keys(subset, name, english);
    }

    ordered_json text = ordered_json::object();
    bool has_source = false;
    std::set<std::string> used_files;
    for (const auto& language : array_member(data.languages, "languages", at)) {
        const auto name = string_member(language, "Language", at);
        const where language_at(at, "language", name);
        if (text.contains(name)) language_at.fail("is listed twice");
        if (language.value("source", false)) {
            if (has_source) language_at.fail("is a second source language");
            has_source = true;
            text[name] = translation_table(english);
            continue;
        }
        const auto file = string_member(language, "file", language_at);
        const auto subset_name = string_member(language, "subset", language_at);
        const auto subset = subset_key_sets.find(subset_name);
        if (subset == subset_key_sets.end()) {
            language_at.fail("refers to subset '" + subset_name + "', which is not defined");
        }
        const auto found = data.translations.find(file);
        if (found == data.translations.end()) language_at.fail("has no file translations/" + file);
        used_files.insert(file);
        text[name] = translation_table(translated_texts(found->second, subset->second, subset_name,
                                                        english, where("translations/" + file)));
    }
    if (!has_source) at.fail("names no source language");
    for (const auto& [file, content] : data.translations) {
        if (used_files.count(file) == 0)
            where("translations/" + file).fail("belongs to no language");
    }
    return text;
}

}  // namespace wmi::document::generator
