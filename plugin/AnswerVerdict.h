#ifndef TRACKPOST_ANSWER_VERDICT_H
#define TRACKPOST_ANSWER_VERDICT_H

#include <string>

// The service's verdicts on a request that was carried out, from its HTTP status and body.

// v1.1: refused when the status is 400 or above, or when the body begins with the service's
// error prefix {"errors":[{ whatever the status.
bool answerRefused(long httpStatus, const std::string& body);

// v1.1 refused with code 453: the account has no v1.1 access, and the service did not act on the
// request, so the same step may be taken through v2.
bool answerDeniesV1(long httpStatus, const std::string& body);

// v2: accepted only with a 2xx status and a JSON object whose "data" is an object; a problem
// object, an error list without data or anything else is a refusal.
bool v2AnswerRefused(long httpStatus, const std::string& body);

#endif
