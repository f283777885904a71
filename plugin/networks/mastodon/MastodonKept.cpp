#include "MastodonKept.h"

#include <cctype>
#include <nlohmann/json.hpp>

#include "TextBlanks.h"

std::string MastodonKept::toBlock(std::size_t capacity) const {
    const nlohmann::json kept = {{"server", server},
                                 {"client_id", clientId},
                                 {"client_secret", clientSecret},
                                 {"token", token},
                                 {"account", account}};
    std::string text = kept.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return text.size() < capacity ? text : std::string();
}

MastodonKept MastodonKept::fromBlock(std::string_view block) {
    const std::string_view text = block.substr(0, block.find('\0'));
    const nlohmann::json kept = nlohmann::json::parse(text, nullptr, false);
    MastodonKept out;
    if (!kept.is_object()) return out;
    const auto field = [&](const char* name) {
        const auto it = kept.find(name);
        return it != kept.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    out.server = field("server");
    out.clientId = field("client_id");
    out.clientSecret = field("client_secret");
    out.token = field("token");
    out.account = field("account");
    if (!mastodonServer(out.server)) out = MastodonKept();  // not ours: nothing kept
    return out;
}

namespace {

bool isHostName(std::string_view name) {
    // Labels of letters, digits and inner hyphens, at least two of them, as DNS takes them.
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

}  // namespace

std::optional<std::string> mastodonServer(std::string_view typed) {
    std::string text = trimBlanks(std::string(typed));
    std::string_view name = text;
    for (std::string_view scheme : {"https://", "http://"})
        if (name.size() >= scheme.size() &&
            std::equal(scheme.begin(), scheme.end(), name.begin(), [](char wanted, char typed) {
                return wanted == std::tolower(static_cast<unsigned char>(typed));
            }))
            name.remove_prefix(scheme.size());
    if (!name.empty() && name.front() == '@') {
        // @user@host: the host after the second "@".
        const std::size_t at = name.find('@', 1);
        if (at == std::string_view::npos) return std::nullopt;
        name.remove_prefix(at + 1);
    }
    name = name.substr(0, name.find('/'));
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    std::string host(name);
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!isHostName(host)) return std::nullopt;
    return host;
}
