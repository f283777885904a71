// The client's transport: one libcurl handle, its settings, and signed requests over it.
#include "twitterclient.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace twitterClientDefaults;
using namespace twitterDefaults;
using namespace oAuthLibDefaults;

void utilMakeCurlParams(std::string& outStr, const std::string& inParam1,
                        const std::string& inParam2) {
    outStr = inParam1 + TWITTER_COLON + inParam2;
}

// ---------------------------------------------------------------------------------------------
// Construction and settings

twitterClient::twitterClient()
    : curlHandle(nullptr),
      errorBuffer(nullptr),
      lastHeaderBytes(0),
      lastHttpStatus(0),
      stallLimitSeconds(STALL_LIMIT_SECONDS),
      aborted(false),
      proxyParamsSet(false),
      loginParamsSet(false),
      callbackParamsSet(false),
      interfaceParamsSet(false),
      caInfoParamsSet(false),
      apiFormatType(0),
      protocolType(0) {
    errorBuffer = static_cast<char*>(std::malloc(CURL_ERROR_BUFFER_SIZE));
    if (errorBuffer) std::memset(errorBuffer, 0, CURL_ERROR_BUFFER_SIZE);

    curlHandle = curl_easy_init();
    if (curlHandle) {
        // Peer and host verification stay on. A dead or stalled connection must fail in
        // bounded time, without signals, since the host runs us on its own threads.
        curl_easy_setopt(curlHandle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curlHandle, CURLOPT_CONNECTTIMEOUT, CONNECT_TIMEOUT_SECONDS);
        curl_easy_setopt(curlHandle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        // A proxy's CONNECT answer is not the service's: its fields never reach the callback.
        curl_easy_setopt(curlHandle, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        // Called about once a second even while nothing arrives, so an abort is seen in time.
        curl_easy_setopt(curlHandle, CURLOPT_XFERINFOFUNCTION, &twitterClient::progressCallback);
        curl_easy_setopt(curlHandle, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(curlHandle, CURLOPT_NOPROGRESS, 0L);
        // HTTPS only, redirects included: an address handed to us must not read a local file or
        // talk plain text. The proxy's own scheme is not restricted by this.
        curl_easy_setopt(curlHandle, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(curlHandle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    }
}

twitterClient::~twitterClient() {
    if (curlHandle) {
        curl_easy_cleanup(curlHandle);
        curlHandle = nullptr;
    }
    std::free(errorBuffer);
    errorBuffer = nullptr;
}

twitterClient* twitterClient::clone() {
    twitterClient* copy = new (std::nothrow) twitterClient();
    if (!copy) return nullptr;
    copy->setProxyServerIp(proxyServerIp);
    copy->setProxyServerPort(proxyServerPort);
    copy->setProxyUserName(proxyUserName);
    copy->setProxyPassword(proxyPassword);
    copy->setTwitterUsername(twitterUsername);
    copy->setTwitterPassword(twitterPassword);
    copy->setCaInfo(caInfo);
    copy->oAuthObj = oAuthObj.clone();
    return copy;
}

void twitterClient::abortTransfers() {
    aborted = true;
}
void twitterClient::allowTransfers() {
    aborted = false;
}

int twitterClient::progressCallback(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<twitterClient*>(client)->aborted ? 1 : 0;
}

bool twitterClient::isCurlInit() {
    return curlHandle != nullptr;
}

std::string& twitterClient::getProxyServerIp() {
    return proxyServerIp;
}
std::string& twitterClient::getProxyServerPort() {
    return proxyServerPort;
}
std::string& twitterClient::getProxyUserName() {
    return proxyUserName;
}
std::string& twitterClient::getProxyPassword() {
    return proxyPassword;
}
std::string& twitterClient::getTwitterUsername() {
    return twitterUsername;
}
std::string& twitterClient::getTwitterPassword() {
    return twitterPassword;
}
std::string& twitterClient::getInterface() {
    return interfaceName;
}
std::string& twitterClient::getCaInfo() {
    return caInfo;
}

namespace {

// Stores a non-empty value and marks its option group for pushing at the next request.
void storeSetting(std::string& field, bool& pushedFlag, const std::string& value) {
    if (value.empty()) return;
    field = value;
    pushedFlag = false;
}

}  // namespace

void twitterClient::setProxyServerIp(const std::string& v) {
    storeSetting(proxyServerIp, proxyParamsSet, v);
}
void twitterClient::setProxyServerPort(const std::string& v) {
    storeSetting(proxyServerPort, proxyParamsSet, v);
}
void twitterClient::setProxyUserName(const std::string& v) {
    storeSetting(proxyUserName, proxyParamsSet, v);
}
void twitterClient::setProxyPassword(const std::string& v) {
    storeSetting(proxyPassword, proxyParamsSet, v);
}
void twitterClient::setTwitterUsername(const std::string& v) {
    storeSetting(twitterUsername, loginParamsSet, v);
}
void twitterClient::setTwitterPassword(const std::string& v) {
    storeSetting(twitterPassword, loginParamsSet, v);
}
void twitterClient::setInterface(const std::string& v) {
    storeSetting(interfaceName, interfaceParamsSet, v);
}
void twitterClient::setCaInfo(const std::string& v) {
    storeSetting(caInfo, caInfoParamsSet, v);
}
void twitterClient::setStallLimit(long seconds) {
    stallLimitSeconds = std::max(seconds, 1L);
}
long twitterClient::getStallLimit() const {
    return stallLimitSeconds;
}

oAuth& twitterClient::getOAuth() {
    return oAuthObj;
}

void twitterClient::getLastWebResponse(std::string& outWebResp) {
    outWebResp = callbackData;
}

void twitterClient::getLastCurlError(std::string& outErrResp) {
    if (!errorBuffer) {
        outErrResp.clear();
        return;
    }
    errorBuffer[CURL_ERROR_BUFFER_SIZE - 1] = '\0';
    outErrResp = errorBuffer;
}

// ---------------------------------------------------------------------------------------------
// Transport

long twitterClient::getLastHttpStatus() const {
    return lastHttpStatus;
}

void twitterClient::forgetLastHeaders() {
    lastHeaders.clear();
    lastHeaderBytes = 0;
}

void twitterClient::clearCurlCallbackBuffers() {
    callbackData.clear();
    forgetLastHeaders();
    lastHttpStatus = 0;
    if (errorBuffer) std::memset(errorBuffer, 0, CURL_ERROR_BUFFER_SIZE);
}

void twitterClient::prepareStandardParams() {
    if (!curlHandle) return;
    curl_easy_setopt(curlHandle, CURLOPT_CUSTOMREQUEST, static_cast<char*>(nullptr));
    curl_easy_setopt(curlHandle, CURLOPT_ACCEPT_ENCODING, "");
    clearCurlCallbackBuffers();
    prepareCurlInterface();
    prepareCurlProxy();
    prepareCurlCallback();
    prepareCurlUserPass();
    prepareCurlCaInfo();
}

void twitterClient::prepareCurlInterface() {
    if (interfaceParamsSet) return;
    curl_easy_setopt(curlHandle, CURLOPT_INTERFACE, static_cast<char*>(nullptr));
    if (!interfaceName.empty())
        curl_easy_setopt(curlHandle, CURLOPT_INTERFACE, interfaceName.c_str());
    interfaceParamsSet = true;
}

void twitterClient::prepareCurlProxy() {
    if (proxyParamsSet) return;
    curl_easy_setopt(curlHandle, CURLOPT_PROXY, static_cast<char*>(nullptr));
    curl_easy_setopt(curlHandle, CURLOPT_PROXYUSERPWD, static_cast<char*>(nullptr));
    curl_easy_setopt(curlHandle, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));

    // An empty proxy text switches proxies off, those of the environment included.
    std::string proxy;
    if (!proxyServerIp.empty()) utilMakeCurlParams(proxy, proxyServerIp, proxyServerPort);
    curl_easy_setopt(curlHandle, CURLOPT_PROXY, proxy.c_str());

    if (!proxyUserName.empty() && !proxyPassword.empty()) {
        std::string userPass;
        utilMakeCurlParams(userPass, proxyUserName, proxyPassword);
        curl_easy_setopt(curlHandle, CURLOPT_PROXYUSERPWD, userPass.c_str());
    }
    proxyParamsSet = true;
}

void twitterClient::prepareCurlCallback() {
    if (callbackParamsSet) return;
    curl_easy_setopt(curlHandle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curlHandle, CURLOPT_WRITEFUNCTION, curlCallback);
    curl_easy_setopt(curlHandle, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curlHandle, CURLOPT_HEADERFUNCTION, headerCallback);
    curl_easy_setopt(curlHandle, CURLOPT_HEADERDATA, this);
    callbackParamsSet = true;
}

void twitterClient::prepareCurlUserPass() {
    if (loginParamsSet) return;
    curl_easy_setopt(curlHandle, CURLOPT_USERPWD, "");
    if (!twitterUsername.empty()) {
        std::string userPass;
        utilMakeCurlParams(userPass, twitterUsername, twitterPassword);
        curl_easy_setopt(curlHandle, CURLOPT_USERPWD, userPass.c_str());
    }
    loginParamsSet = true;
}

void twitterClient::prepareCurlCaInfo() {
    if (caInfoParamsSet) return;
    if (!caInfo.empty()) curl_easy_setopt(curlHandle, CURLOPT_CAINFO, caInfo.c_str());
    caInfoParamsSet = true;
}

size_t twitterClient::curlCallback(char* data, size_t size, size_t nmemb, void* userData) {
    if (!data || !userData) return 0;
    const size_t n = size * nmemb;
    if (n == 0) return 0;
    return static_cast<size_t>(static_cast<twitterClient*>(userData)->saveLastWebResponse(data, n));
}

size_t twitterClient::headerCallback(char* data, size_t size, size_t nmemb, void* userData) {
    const size_t n = size * nmemb;
    if (data && userData && n > 0)
        static_cast<twitterClient*>(userData)->saveHeaderLine(std::string(data, n));
    return n;
}

namespace {

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

void twitterClient::saveHeaderLine(const std::string& line) {
    // Every answer begins with its status line: a proxy's CONNECT answer and any 1xx answer
    // come before the final one, whose fields are the ones kept.
    if (line.rfind("HTTP/", 0) == 0) {
        forgetLastHeaders();
        return;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return;  // the blank line, or not a field
    if (lastHeaderBytes + line.size() > MAX_HEADER_BYTES) return;
    lastHeaderBytes += line.size();
    lastHeaders.emplace_back(lowerCase(trimmed(line.substr(0, colon))),
                             trimmed(line.substr(colon + 1)));
}

bool twitterClient::getLastResponseHeader(const std::string& name, std::string& value) const {
    const std::string wanted = lowerCase(name);
    for (auto it = lastHeaders.rbegin(); it != lastHeaders.rend(); ++it) {
        if (it->first != wanted) continue;
        value = it->second;
        return true;
    }
    return false;
}

bool twitterClient::getLastAnswerDate(std::int64_t& epochSeconds) const {
    std::string date;
    if (!getLastResponseHeader("Date", date)) return false;
    const time_t seconds = curl_getdate(date.c_str(), nullptr);
    if (seconds == static_cast<time_t>(-1)) return false;
    epochSeconds = static_cast<std::int64_t>(seconds);
    return true;
}

int twitterClient::saveLastWebResponse(char*& data, size_t size) {
    if (!data || size == 0) return 0;
    // Refusing the chunk ends the transfer with a write error: no endless body is collected.
    if (size > MAX_RESPONSE_BYTES - callbackData.size()) return 0;
    callbackData.append(data, size);
    return static_cast<int>(size);
}

namespace {

const char JSON_CONTENT_TYPE[] = "application/json";

// Appends a non-empty header line; false when out of memory.
bool appendHeader(curl_slist*& list, const std::string& line) {
    if (line.empty()) return true;
    curl_slist* longer = curl_slist_append(list, line.c_str());
    if (!longer) return false;
    list = longer;
    return true;
}

}  // namespace

bool twitterClient::performWithHeader(const std::string& oAuthHttpHeader, const char* contentType) {
    curl_slist* headerList = nullptr;
    if (!appendHeader(headerList, oAuthHttpHeader) ||
        (contentType && !appendHeader(headerList, std::string("Content-Type: ") + contentType))) {
        // Never sent without the headers it was built with.
        curl_slist_free_all(headerList);
        return false;
    }
    if (headerList) curl_easy_setopt(curlHandle, CURLOPT_HTTPHEADER, headerList);
    curl_easy_setopt(curlHandle, CURLOPT_LOW_SPEED_TIME, stallLimitSeconds);
    const CURLcode result = curl_easy_perform(curlHandle);
    if (curl_easy_getinfo(curlHandle, CURLINFO_RESPONSE_CODE, &lastHttpStatus) != CURLE_OK)
        lastHttpStatus = 0;
    // Fields of an answer cut short, or of a proxy before a failed tunnel, are no answer's.
    if (result != CURLE_OK) forgetLastHeaders();
    // The handle must never point at a freed list.
    curl_easy_setopt(curlHandle, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    curl_slist_free_all(headerList);
    return result == CURLE_OK;
}

bool twitterClient::performSigned(eOAuthHttpRequestType type, const std::string& url,
                                  const std::string& body, bool jsonBody) {
    if (!curlHandle) return false;
    prepareStandardParams();

    std::string header;
    if (!oAuthObj.getOAuthHeader(type, url, jsonBody ? std::string() : body, header, false))
        return false;  // not sent unsigned

    switch (type) {
        case eOAuthRequestGet:
            curl_easy_setopt(curlHandle, CURLOPT_HTTPGET, 1L);
            curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
            break;
        case eOAuthRequestPost:
            curl_easy_setopt(curlHandle, CURLOPT_POST, 1L);
            curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
            // Always a body, even an empty one: without it libcurl would read one from stdin.
            curl_easy_setopt(curlHandle, CURLOPT_COPYPOSTFIELDS, body.c_str());
            break;
        case eOAuthRequestDelete:
            curl_easy_setopt(curlHandle, CURLOPT_CUSTOMREQUEST, "DELETE");
            curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
            curl_easy_setopt(curlHandle, CURLOPT_COPYPOSTFIELDS, "");
            break;
    }
    return performWithHeader(header, jsonBody ? JSON_CONTENT_TYPE : nullptr);
}

bool twitterClient::performGet(const std::string& getUrl) {
    return performSigned(eOAuthRequestGet, getUrl, "");
}

bool twitterClient::performPost(const std::string& postUrl, std::string dataStr) {
    return performSigned(eOAuthRequestPost, postUrl, dataStr);
}

bool twitterClient::performDelete(const std::string& deleteUrl) {
    return performSigned(eOAuthRequestDelete, deleteUrl, "");
}

bool twitterClient::performGetInternal(const std::string& getUrl,
                                       const std::string& oAuthHttpHeader) {
    if (!curlHandle) return false;
    prepareStandardParams();
    curl_easy_setopt(curlHandle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curlHandle, CURLOPT_URL, getUrl.c_str());
    return performWithHeader(oAuthHttpHeader);
}
