#ifndef TRACKPOST_ANSWER_VERDICT_H
#define TRACKPOST_ANSWER_VERDICT_H

#include <string>

// The service's verdict on a request that was carried out: refused when the answer's HTTP
// status is 400 or above, or when its body begins with the service's error prefix
// {"errors":[{ whatever the status.
bool answerRefused(long httpStatus, const std::string& body);

#endif
