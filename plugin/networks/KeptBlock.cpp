#include "KeptBlock.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

std::string keptBlockText(const std::vector<std::pair<const char*, std::string>>& fields,
                          std::size_t capacity) {
    nlohmann::json kept = nlohmann::json::object();
    for (const auto& [name, value] : fields) kept[name] = value;
    std::string text = kept.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return text.size() < capacity ? text : std::string();
}

KeptFields keptBlockFields(std::string_view block) {
    const std::string_view text = block.substr(0, block.find('\0'));
    const nlohmann::json kept = nlohmann::json::parse(text, nullptr, false);
    KeptFields fields;
    if (!kept.is_object()) return fields;
    for (const auto& [name, value] : kept.items())
        if (value.is_string()) fields[name] = value.get<std::string>();
    return fields;
}

bool isHostName(std::string_view name) {
    if (name.empty() || name.size() > 253) return false;
    std::size_t labels = 0;
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t dot = std::min(name.find('.', start), name.size());
        const std::string_view label = name.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (const char c : label)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
        ++labels;
        start = dot + 1;
    }
    return labels >= 2;
}
