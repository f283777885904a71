#ifndef TRACKPOST_TEST_SUPPORT_H
#define TRACKPOST_TEST_SUPPORT_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

namespace testsupport {

// ThreadSanitizer keeps shadow state several times the size of all memory a test touches: too
// much for the tests that hash or sign gigabytes, which look for faults it doesn't find anyway.
#if defined(__SANITIZE_THREAD__)
constexpr bool threadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool threadSanitizer = true;
#else
constexpr bool threadSanitizer = false;
#endif
#else
constexpr bool threadSanitizer = false;
#endif

using Bytes = std::vector<unsigned char>;

// A folder of the test's own in the system's temporary folder, removed with all it holds when the
// test ends, however it ends. Empty path when it could not be made.
class TempFolder {
  public:
    explicit TempFolder(const std::string& prefix = "trackpost-test-") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline std::string toHex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

inline std::string toHex(const Bytes& b) {
    return toHex(b.data(), b.size());
}

inline Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// The published known-answer vectors, filtered by kind.
inline std::vector<nlohmann::json> publishedVectors(const std::string& kind) {
    std::ifstream in(TRACKPOST_VECTORS_FILE);
    const nlohmann::json all = nlohmann::json::parse(in);
    std::vector<nlohmann::json> out;
    for (const auto& v : all)
        if (v.at("kind") == kind) out.push_back(v);
    return out;
}

inline Bytes randomBytes(std::mt19937& rng, size_t n) {
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes out(n);
    for (auto& b : out) b = static_cast<unsigned char>(byte(rng));
    return out;
}

}  // namespace testsupport

#endif
