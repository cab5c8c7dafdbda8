#pragma once
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

// The command line's JSON (reports, history): objects keep their keys in the order written, and
// what is not known is null rather than made up.

using Json = nlohmann::ordered_json;

inline Json NullUnless(bool known, std::uint32_t value) {
    return known ? Json(value) : Json(nullptr);
}

template <typename T>
Json NullUnless(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

inline Json NullIfEmpty(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}
