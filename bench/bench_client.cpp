// Tweets posted back to back on one client to the sandbox service (proxy tunnel, TLS on), through
// v1.1's status update and through v2's tweet creation: posts per second and the number of
// connections the service saw, and the ratio of the two rates.
#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <string>

#include "SandboxService.h"
#include "twitterclient.h"

namespace {

struct Run {
    int accepted = 0;
    double seconds = 0;
    std::size_t connections = 0;
};

// Posts `count` distinct texts with `post`; an answer counts as accepted with a 2xx status.
Run measure(const SandboxService& sandbox, twitterClient& client, int count,
            const std::function<bool(const std::string&)>& post) {
    sandbox.reset();
    Run run;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string text =
            "Now playing Track " + std::to_string(i) + " - Artist on #Spinforge";
        const long status = post(text) ? client.getLastHttpStatus() : 0;
        if (status >= 200 && status < 300) ++run.accepted;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::set<long long> connections;
    for (const auto& entry : sandbox.log())
        if (entry.at("method") == "POST")
            connections.insert(entry.at("connection").get<long long>());
    run.connections = connections.size();
    return run;
}

void report(const char* name, int count, const Run& run) {
    std::printf("%s: %d posted, %d accepted, %.3f s, %.1f per second, %zu connection(s)\n", name,
                count, run.accepted, run.seconds, count / run.seconds, run.connections);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    SandboxService sandbox;
    if (!sandbox.start()) {
        std::fprintf(stderr, "sandbox: %s\n", sandbox.error().c_str());
        return 1;
    }
    twitterClient client;
    sandbox.configure(client);
    client.usersMeGet();  // the tunnel and TLS set up before either run

    const Run v1 = measure(sandbox, client, count,
                           [&](const std::string& text) { return client.statusUpdate(text); });
    const Run v2 = measure(sandbox, client, count,
                           [&](const std::string& text) { return client.tweetCreate(text); });
    report("v1.1 statuses/update", count, v1);
    report("v2 tweets          ", count, v2);
    std::printf("v2 rate / v1.1 rate: %.2f\n", v1.seconds / v2.seconds);
    return v1.accepted == count && v2.accepted == count ? 0 : 1;
}
