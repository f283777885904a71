#include <gtest/gtest.h>

#include "base64.h"
#include "test_support.h"
#include "urlencode.h"

using namespace testsupport;

namespace {

std::string encode(const Bytes& b) {
    return base64_encode(b.data(), static_cast<unsigned int>(b.size()));
}

}  // namespace

TEST(Base64, PublishedVectorsEncodeAndDecode) {
    const auto vectors = publishedVectors("base64");
    ASSERT_GE(vectors.size(), 7u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.at("name").get<std::string>());
        const Bytes data = fromHex(v.at("inputs").at("data_hex").get<std::string>());
        const std::string text = v.at("expected").at("base64").get<std::string>();
        EXPECT_EQ(encode(data), text);
        EXPECT_EQ(bytesOf(base64_decode(text)), data);
    }
}

TEST(Base64, OutputShapeByInputLength) {
    EXPECT_EQ(encode(Bytes{}), "");
    EXPECT_EQ(encode(Bytes{0x00}), "AA==");
    EXPECT_EQ(encode(Bytes{0x00, 0x00}), "AAA=");
    EXPECT_EQ(encode(Bytes{0x00, 0x00, 0x00}), "AAAA");
    const std::string digest = encode(Bytes(20, 0xA5));
    EXPECT_EQ(digest.size(), 28u);
    EXPECT_EQ(digest.back(), '=');
    EXPECT_NE(digest[26], '=');
    // The standard alphabet: "+" and "/", never the URL-safe "-" and "_".
    EXPECT_EQ(encode(Bytes{0xFB, 0xFF}), "+/8=");
}

TEST(Base64, EveryByteValueRoundTrips) {
    std::mt19937 rng(8);
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(bytesOf(base64_decode(encode(all))), all);
    for (size_t len = 0; len < 70; ++len) {
        const Bytes b = randomBytes(rng, len);
        ASSERT_EQ(bytesOf(base64_decode(encode(b))), b) << "length " << len;
    }
}

TEST(Base64, DecodeStopRules) {
    struct Case {
        const char* in;
        std::string out;
    };
    const Case cases[] = {
        {"", ""},
        {"=", ""},
        {"=Zm9v", ""},
        {"Zg", "f"},  // missing padding
        {"Zm8", "fo"},
        {"Zg==", "f"},
        {"Z", ""},              // one character carries no whole byte
        {"Zm9v\nYmFy", "foo"},  // a line break ends the text
        {"Zm9v YmFy", "foo"},
        {"Zm9=v", "fo"},  // the first "=" ends the text
        {"Zm9vYmFy*Zg==", "foobar"},
        {"Zm9-", "fo"},  // URL-safe characters are not in the alphabet
        {"Zh==", "f"},   // spare bits of the last character are dropped
    };
    for (const auto& c : cases) EXPECT_EQ(base64_decode(c.in), c.out) << '"' << c.in << '"';
}

TEST(UrlEncode, Table) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"", ""},
        {"abc", "abc"},
        {"ABCXYZabcxyz0189", "ABCXYZabcxyz0189"},
        {"~-._", "~-._"},
        {"a b&c=d", "a%20b%26c%3Dd"},
        {"*", "%2A"},
        {"+", "%2B"},
        {"%", "%25"},
        {"%20", "%2520"},  // never decoded first
        {"/?#[]@!$'()*,;:", "%2F%3F%23%5B%5D%40%21%24%27%28%29%2A%2C%3B%3A"},
        {"\xC3\xA9", "%C3%A9"},
        {std::string("a\0b", 3), "a%00b"},
        {"\x7F\x80\xFF", "%7F%80%FF"},
    };
    for (const auto& c : cases) EXPECT_EQ(urlencode(c.in), c.out) << '"' << c.in << '"';
}

TEST(UrlEncode, PublishedExamples) {
    const auto vectors = publishedVectors("percent_encode");
    ASSERT_GE(vectors.size(), 4u);
    for (const auto& v : vectors)
        EXPECT_EQ(urlencode(v.at("inputs").at("text").get<std::string>()),
                  v.at("expected").at("encoded").get<std::string>())
            << v.at("name").get<std::string>();
}

TEST(UrlEncode, EveryByteOutsideTheUnreservedSetIsEscapedWithUpperCaseHex) {
    for (int b = 0; b < 256; ++b) {
        const std::string in(1, static_cast<char>(b));
        const bool unreserved = std::isalnum(b) || b == '-' || b == '.' || b == '_' || b == '~';
        if (unreserved && b < 0x80) {
            EXPECT_EQ(urlencode(in), in);
        } else {
            EXPECT_EQ(urlencode(in), "%" + char2hex(static_cast<char>(b))) << b;
        }
    }
}

TEST(Char2Hex, SignedAndUnsignedBytes) {
    EXPECT_EQ(char2hex(static_cast<char>(0xFF)), "FF");
    EXPECT_EQ(char2hex(static_cast<char>(0x80)), "80");
    EXPECT_EQ(char2hex(static_cast<char>(0xC3)), "C3");
    EXPECT_EQ(char2hex('\x0A'), "0A");
    EXPECT_EQ(char2hex('\0'), "00");
    EXPECT_EQ(char2hex(static_cast<char>(-1)), "FF");
    for (int b = 0; b < 256; ++b) {
        const std::string h = char2hex(static_cast<char>(b));
        ASSERT_EQ(h.size(), 2u);
        EXPECT_EQ(std::stoi(h, nullptr, 16), b);
        EXPECT_EQ(h.find_first_of("abcdef"), std::string::npos);
    }
}
