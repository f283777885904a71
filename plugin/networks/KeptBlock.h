#ifndef TRACKPOST_NETWORKS_KEPT_BLOCK_H
#define TRACKPOST_NETWORKS_KEPT_BLOCK_H

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A network's login as the host keeps it between runs: named texts in a JSON object.
using KeptFields = std::map<std::string, std::string>;

// The block's text; empty when it would not fit in `capacity` bytes with its NUL.
std::string keptBlockText(const std::vector<std::pair<const char*, std::string>>& fields,
                          std::size_t capacity);
// The text fields of a block (up to its first NUL); none when it is empty or not an object.
KeptFields keptBlockFields(std::string_view block);

// A host name as DNS takes it: labels of letters, digits and inner hyphens, at least two.
bool isHostName(std::string_view name);

#endif
