#include "ServiceSettings.h"

#include <cstdlib>
#include <string>

#include "WebClient.h"
#include "twitterclient.h"

// The application's registration with the service, set by the build; empty ones still build a
// plug-in, whose login the service then refuses.
#ifndef TRACKPOST_CONSUMER_KEY
#define TRACKPOST_CONSUMER_KEY ""
#endif
#ifndef TRACKPOST_CONSUMER_SECRET
#define TRACKPOST_CONSUMER_SECRET ""
#endif

namespace {

#ifdef TRACKPOST_SANDBOX_CA
// The sandbox build reaches the service's addresses through the sandbox's entrance, which acts
// as the proxy, and trusts only the sandbox's CA: URLs and signatures stay those of the service.
const char DEFAULT_SANDBOX_PROXY[] = "127.0.0.1:8443";
const char DEFAULT_SANDBOX_PORT[] = "8443";

std::string environmentOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string sandboxProxy() {
    return environmentOr("TRACKPOST_SANDBOX_PROXY", DEFAULT_SANDBOX_PROXY);
}

std::string sandboxCa() {
    return environmentOr("TRACKPOST_SANDBOX_CA", TRACKPOST_SANDBOX_CA);
}

void applySandbox(twitterClient& client) {
    const std::string proxy = sandboxProxy();
    const std::size_t colon = proxy.rfind(':');
    client.setProxyServerIp(proxy.substr(0, colon));
    client.setProxyServerPort(colon == std::string::npos || colon + 1 == proxy.size()
                                  ? std::string(DEFAULT_SANDBOX_PORT)
                                  : proxy.substr(colon + 1));
    client.setCaInfo(sandboxCa());
}
#endif

}  // namespace

void applyServiceSettings(twitterClient& client) {
    client.getOAuth().setConsumerKey(TRACKPOST_CONSUMER_KEY);
    client.getOAuth().setConsumerSecret(TRACKPOST_CONSUMER_SECRET);
#ifdef TRACKPOST_SANDBOX_CA
    applySandbox(client);
#endif
}

void applyServiceSettings(WebClient& client) {
#ifdef TRACKPOST_SANDBOX_CA
    std::string proxy = sandboxProxy();
    if (proxy.find(':') == std::string::npos) proxy += std::string(":") + DEFAULT_SANDBOX_PORT;
    client.setProxy(proxy);
    client.setCaFile(sandboxCa());
#else
    (void)client;
#endif
}
