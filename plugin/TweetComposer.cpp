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

}  // namespace

std::string replaceAll(const std::string& text, const std::string& token,
                       const std::string& value) {
    std::string result;
    size_t pos = 0;
    for (size_t hit; (hit = text.find(token, pos)) != std::string::npos; pos = hit + token.size()) {
        result.append(text, pos, hit - pos);
        result += value;
    }
    result.append(text, pos, std::string::npos);
    return result;
}

std::string composeTweet(const std::string& tweetTemplate, const TrackQuery& query) {
    std::string text = tweetTemplate;
    for (const TrackToken& t : TRACK_TOKENS)
        if (text.find(t.token) != std::string::npos)
            text = replaceAll(text, t.token, query(t.query));
    return text;
}
