#ifndef TRACKPOST_TESTS_WEB_ANSWERS_H
#define TRACKPOST_TESTS_WEB_ANSWERS_H

#include <string>
#include <utility>
#include <vector>

#include "WebClient.h"

// Answers as the transport hands them to a network's verdict.

using Fields = std::vector<std::pair<std::string, std::string>>;

inline WebAnswer answer(long status, std::string body, Fields headers = {}) {
    WebAnswer a;
    a.carriedOut = true;
    a.status = status;
    a.body = std::move(body);
    a.headers = std::move(headers);
    return a;
}

inline WebAnswer notCarriedOut(std::string error) {
    WebAnswer a;
    a.error = std::move(error);
    return a;
}

#endif
