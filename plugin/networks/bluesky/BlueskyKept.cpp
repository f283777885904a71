#include "BlueskyKept.h"

#include <cctype>

#include "KeptBlock.h"
#include "TextBlanks.h"

std::string BlueskyKept::toBlock(std::size_t capacity) const {
    return keptBlockText(
        {{"handle", handle}, {"did", did}, {"pds", pds}, {"app_password", appPassword}}, capacity);
}

BlueskyKept BlueskyKept::fromBlock(std::string_view block) {
    KeptFields kept = keptBlockFields(block);
    BlueskyKept out{kept["handle"], kept["did"], kept["pds"], kept["app_password"]};
    if (!blueskyHandle(out.handle)) out = BlueskyKept();  // not ours: nothing kept
    return out;
}

std::optional<std::string> blueskyHandle(std::string_view typed) {
    std::string handle = trimBlanks(std::string(typed));
    if (!handle.empty() && handle.front() == '@') handle = trimBlanks(handle.substr(1));
    for (char& c : handle) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!isHostName(handle)) return std::nullopt;
    return handle;
}
