#ifndef TRACKPOST_TWEET_COMPOSER_H
#define TRACKPOST_TWEET_COMPOSER_H

#include <functional>
#include <string>
#include <vector>

#include "TextPart.h"

// `text` with every occurrence of `token` replaced by `value`, left to right, never overlapping;
// inserted values are not searched again. `token` must not be empty.
std::string replaceAll(const std::string& text, const std::string& token, const std::string& value);

// Answers one host text query, such as "deck active get_loaded_song 'title'".
using TrackQuery = std::function<std::string(const char* query)>;

// Fills the template's tokens (%TITLE%, %ARTIST%, %REMIX%, %COMMENT%, %ALBUM%, %GENRE%, %YEAR%,
// in that order) with the answers to their queries. A token is looked for in the result of the
// earlier replacements, and only a token that is present costs a query.
std::string composeTweet(const std::string& tweetTemplate, const TrackQuery& query);

// The same composition in its parts: the template's words and each value inserted, in order;
// joined they are composeTweet's text. A token that a value completes is replaced too, and the
// bytes it leaves of a part stay with that part.
std::vector<TextPart> composeParts(const std::string& tweetTemplate, const TrackQuery& query);

#endif
