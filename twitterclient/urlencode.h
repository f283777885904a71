#ifndef TRACKPOST_URLENCODE_H
#define TRACKPOST_URLENCODE_H

#include <string>

// Percent-encodes every byte except the RFC 3986 unreserved characters, with upper-case hex.
// Never decodes: "%20" becomes "%2520".
std::string urlencode(const std::string& s);
// The length of urlencode(s), without building it.
size_t urlencodedLength(const std::string& s);
// The two upper-case hex digits of a byte, whatever the signedness of char.
std::string char2hex(char dec);

#endif
