#ifndef TRACKPOST_SERVICE_SETTINGS_H
#define TRACKPOST_SERVICE_SETTINGS_H

class twitterClient;
class WebClient;

// Points the client at the service this build was made for: the application's consumer
// credentials and, in the sandbox build, the sandbox's proxy and CA. Called once per load.
void applyServiceSettings(twitterClient& client);
// The same for the other networks' transport: in the sandbox build, the sandbox's proxy and CA.
void applyServiceSettings(WebClient& client);

#endif
