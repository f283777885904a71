#ifndef TRACKPOST_BASE64_H
#define TRACKPOST_BASE64_H

#include <string>

// Base64 of RFC 4648 (alphabet with "+" and "/", "=" padding, no line breaks).
std::string base64_encode(unsigned char const* bytes_to_encode, unsigned int in_len);
// Decodes up to the end, the first "=" or the first character outside the alphabet.
std::string base64_decode(std::string const& encoded_string);

#endif
