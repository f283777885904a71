#ifndef TRACKPOST_CLIENTPARAMS_H
#define TRACKPOST_CLIENTPARAMS_H

#include <string>

#include "twitterclienturls.h"

// Adds "name=value" to a parameter text (a query or a form body), after an "&" when the text is
// not empty.
inline void appendParam(std::string& params, const std::string& item) {
    if (!params.empty()) params += twitterClientDefaults::TWITTER_URL_SEP_AMP;
    params += item;
}

#endif
