#include "MastodonKept.h"

#include <algorithm>
#include <cctype>

#include "KeptBlock.h"
#include "TextBlanks.h"

std::string MastodonKept::toBlock(std::size_t capacity) const {
    return keptBlockText({{"server", server},
                          {"client_id", clientId},
                          {"client_secret", clientSecret},
                          {"token", token},
                          {"account", account}},
                         capacity);
}

MastodonKept MastodonKept::fromBlock(std::string_view block) {
    KeptFields kept = keptBlockFields(block);
    MastodonKept out{kept["server"], kept["client_id"], kept["client_secret"], kept["token"],
                     kept["account"]};
    if (!mastodonServer(out.server)) out = MastodonKept();  // not ours: nothing kept
    return out;
}

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
