// Status updates posted back to back on one client to the sandbox service (proxy tunnel, TLS on):
// updates per second and the number of connections the service saw.
#include <chrono>
#include <cstdio>
#include <set>
#include <string>

#include "SandboxService.h"
#include "twitterclient.h"

int main(int argc, char** argv) {
    const int updates = argc > 1 ? std::atoi(argv[1]) : 200;
    SandboxService sandbox;
    if (!sandbox.start()) {
        std::fprintf(stderr, "sandbox: %s\n", sandbox.error().c_str());
        return 1;
    }
    twitterClient client;
    sandbox.configure(client);

    int accepted = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < updates; ++i) {
        const std::string text =
            "Now playing Track " + std::to_string(i) + " - Artist on #Spinforge";
        std::string body;
        if (client.statusUpdate(text)) client.getLastWebResponse(body);
        if (!body.empty() && body.rfind("{\"errors\":[{", 0) != 0) ++accepted;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::set<long long> connections;
    for (const auto& entry : sandbox.log())
        if (entry.at("method") == "POST")
            connections.insert(entry.at("connection").get<long long>());

    std::printf("status updates:      %d posted, %d accepted\n", updates, accepted);
    std::printf("elapsed:             %.3f s\n", seconds);
    std::printf("updates per second:  %.1f\n", updates / seconds);
    std::printf("connections seen:    %zu\n", connections.size());
    return accepted == updates ? 0 : 1;
}
