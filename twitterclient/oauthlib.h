#ifndef TRACKPOST_OAUTHLIB_H
#define TRACKPOST_OAUTHLIB_H

#include <cstdint>
#include <map>
#include <string>

namespace oAuthLibDefaults {
extern const std::string OAUTHLIB_CONSUMERKEY_KEY;
extern const std::string OAUTHLIB_VERSION_KEY;
extern const std::string OAUTHLIB_SIGNATUREMETHOD_KEY;
extern const std::string OAUTHLIB_SIGNATURE_KEY;
extern const std::string OAUTHLIB_TIMESTAMP_KEY;
extern const std::string OAUTHLIB_NONCE_KEY;
extern const std::string OAUTHLIB_TOKEN_KEY;
extern const std::string OAUTHLIB_TOKENSECRET_KEY;
extern const std::string OAUTHLIB_VERIFIER_KEY;
extern const std::string OAUTHLIB_SCREENNAME_KEY;
extern const std::string OAUTHLIB_AUTHENTICITY_TOKEN_KEY;
extern const std::string OAUTHLIB_SESSIONUSERNAME_KEY;
extern const std::string OAUTHLIB_SESSIONPASSWORD_KEY;
extern const std::string OAUTHLIB_AUTHENTICITY_TOKEN_TWITTER_RESP_KEY;
extern const std::string OAUTHLIB_TOKEN_TWITTER_RESP_KEY;
extern const std::string OAUTHLIB_PIN_TWITTER_RESP_KEY;
extern const std::string OAUTHLIB_TOKEN_END_TAG_TWITTER_RESP;
extern const std::string OAUTHLIB_PIN_END_TAG_TWITTER_RESP;
extern const std::string OAUTHLIB_AUTHHEADER_STRING;
}  // namespace oAuthLibDefaults

namespace oAuthTwitterApiUrls {
extern const std::string OAUTHLIB_TWITTER_REQUEST_TOKEN_URL;
extern const std::string OAUTHLIB_TWITTER_AUTHORIZE_URL;
extern const std::string OAUTHLIB_TWITTER_ACCESS_TOKEN_URL;
}  // namespace oAuthTwitterApiUrls

typedef enum _eOAuthHttpRequestType {
    eOAuthRequestGet = 1,
    eOAuthRequestPost = 2,
    eOAuthRequestDelete = 3
} eOAuthHttpRequestType;

// Request parameters by name, one value per name. Joined, they are sorted as whole name=value
// items, in unsigned byte order, not by name.
typedef std::map<std::string, std::string> oAuthKeyValuePairs;

// OAuth 1.0a credentials of one client, and the HMAC-SHA1 "Authorization: OAuth " header line.
class oAuth {
  public:
    oAuth() = default;
    ~oAuth() = default;

    oAuth clone();

    void getConsumerKey(std::string& consumerKey);
    void setConsumerKey(const std::string& consumerKey);
    void getConsumerSecret(std::string& consumerSecret);
    void setConsumerSecret(const std::string& consumerSecret);
    void getOAuthTokenKey(std::string& oAuthTokenKey);
    void setOAuthTokenKey(const std::string& oAuthTokenKey);
    void getOAuthTokenSecret(std::string& oAuthTokenSecret);
    void setOAuthTokenSecret(const std::string& oAuthTokenSecret);
    void getOAuthPin(std::string& oAuthPin);
    void setOAuthPin(const std::string& oAuthPin);
    void getOAuthScreenName(std::string& oAuthScreenName);
    void setOAuthScreenName(const std::string& oAuthScreenName);
    // Seconds added to this machine's clock for every time stamp signed from now on: the
    // service refuses one that is minutes away from its own clock.
    std::int64_t getClockOffset() const;
    void setClockOffset(std::int64_t seconds);

    // A new nonce and timestamp, then the signed header line for this request, every value
    // percent-encoded. rawData is the form body exactly as it will be sent (values already
    // percent-encoded), or empty. False, with no header line, when the request can't be signed.
    bool getOAuthHeader(const eOAuthHttpRequestType eType, const std::string& rawUrl,
                        const std::string& rawData, std::string& oAuthHttpHeader,
                        const bool includeOAuthVerifierPin = false);
    // Reads oauth_token, oauth_token_secret and screen_name from a token answer.
    bool extractOAuthTokenKeySecret(const std::string& requestTokenResponse);

  private:
    friend class oAuthTestAccess;

    bool buildOAuthHeader(const eOAuthHttpRequestType eType, const std::string& rawUrl,
                          const std::string& rawData, std::string& oAuthHttpHeader,
                          const bool includeOAuthVerifierPin, const bool generateTimestamp);
    void generateNonceTimeStamp();
    void buildOAuthRawDataKeyValPairs(const std::string& rawData, bool urlencodeData,
                                      oAuthKeyValuePairs& rawDataKeyValuePairs);
    bool buildOAuthTokenKeyValuePairs(const bool includeOAuthVerifierPin,
                                      const std::string& oauthSignature,
                                      oAuthKeyValuePairs& keyValueMap,
                                      const bool generateTimestamp);
    bool getSignature(const eOAuthHttpRequestType eType, const std::string& rawUrl,
                      const oAuthKeyValuePairs& rawKeyValuePairs, std::string& oAuthSignature);
    bool getStringFromOAuthKeyValuePairs(const oAuthKeyValuePairs& rawParamMap,
                                         std::string& rawParams,
                                         const std::string& paramsSeperator);

    std::string consumerKey;
    std::string consumerSecret;
    std::string oAuthTokenKey;
    std::string oAuthTokenSecret;
    std::string oAuthPin;
    std::string nonce;
    std::string timeStamp;
    std::int64_t clockOffset = 0;
    std::string oAuthScreenName;
};

#endif
