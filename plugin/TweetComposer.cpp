#include "TweetComposer.h"

namespace {

struct TrackToken {
    const char* token;
    const char* query;
};

// Application order matters: a value holding a later token is expanded, an earlier one is not.
const TrackToken TRACK_TOKENS[] = {
    {"%TITLE%", "deck active get_loaded_song 'title'"},
    {"%ARTIST%", "deck active get_loaded_song 'artist'"},
    {"%REMIX%", "deck active get_loaded_song 'remix'"},
    {"%COMMENT%", "deck active get_loaded_song 'comment'"},
    {"%ALBUM%", "deck active get_loaded_song 'album'"},
    {"%GENRE%", "deck active get_loaded_song 'genre'"},
    {"%YEAR%", "deck active get_loaded_song 'year'"},
};

// `text` with `token` replaced by `value` as replaceAll does, `owners` telling for each byte
// whose it is (0 for the template's words); the inserted values get `owner`.
std::string replaceTracking(const std::string& text, std::vector<int>& owners,
                            const std::string& token, const std::string& value, int owner) {
    std::string result;
    std::vector<int> resultOwners;
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(token, pos)) != std::string::npos;
         pos = hit + token.size()) {
        result.append(text, pos, hit - pos);
        resultOwners.insert(resultOwners.end(), owners.begin() + pos, owners.begin() + hit);
        result += value;
        resultOwners.insert(resultOwners.end(), value.size(), owner);
    }
    result.append(text, pos, std::string::npos);
    resultOwners.insert(resultOwners.end(), owners.begin() + pos, owners.end());
    owners = std::move(resultOwners);
    return result;
}

}  // namespace

std::string replaceAll(const std::string& text, const std::string& token,
                       const std::string& value) {
    std::vector<int> owners(text.size(), 0);
    return replaceTracking(text, owners, token, value, 0);
}

std::string composeTweet(const std::string& tweetTemplate, const TrackQuery& query) {
    return joinParts(composeParts(tweetTemplate, query));
}

std::vector<TextPart> composeParts(const std::string& tweetTemplate, const TrackQuery& query) {
    std::string text = tweetTemplate;
    std::vector<int> owners(text.size(), 0);
    int inserted = 0;
    for (const TrackToken& t : TRACK_TOKENS)
        if (text.find(t.token) != std::string::npos)
            text = replaceTracking(text, owners, t.token, query(t.query), ++inserted);
    std::vector<TextPart> parts;
    for (std::size_t begin = 0, end = 0; begin < text.size(); begin = end) {
        while (end < text.size() && owners[end] == owners[begin]) ++end;
        parts.push_back({text.substr(begin, end - begin), owners[begin] != 0});
    }
    return parts;
}
