// Tweets posted back to back on one client to the sandbox service (proxy tunnel, TLS on), through
// v1.1's status update and through v2's tweet creation: posts per second, the number of
// connections the service saw, the service's own CPU time (how much of the rate is the sandbox),
// and the ratio of the two rates.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <string>

#include "SandboxService.h"
#include "proc_cpu.h"
#include "twitterclient.h"

namespace {

struct Run {
    int accepted = 0;
    double seconds = 0;
    std::size_t connections = 0;
    double serviceCpuSeconds = 0;
};

// User and system time of a process, all its threads.
double cpuSeconds(pid_t pid) {
    return static_cast<double>(procStatTicks("/proc/" + std::to_string(pid) + "/stat")) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Posts `count` distinct texts with `post`; an answer counts as accepted with a 2xx status.
Run measure(const SandboxService& sandbox, twitterClient& client, int count,
            const std::function<bool(const std::string&)>& post) {
    sandbox.reset();
    Run run;
    const double cpuStart = cpuSeconds(sandbox.pid());
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string text =
            "Now playing Track " + std::to_string(i) + " - Artist on #Spinforge";
        const long status = post(text) ? client.getLastHttpStatus() : 0;
        if (status >= 200 && status < 300) ++run.accepted;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.serviceCpuSeconds = cpuSeconds(sandbox.pid()) - cpuStart;
    std::set<long long> connections;
    for (const auto& entry : sandbox.log())
        if (entry.at("method") == "POST")
            connections.insert(entry.at("connection").get<long long>());
    run.connections = connections.size();
    return run;
}

void report(const char* name, int count, const Run& run) {
    std::printf(
        "%s: %d posted, %d accepted, %.3f s, %.1f per second, %zu connection(s), service CPU "
        "%.2f s (%.0f %% of the time)\n",
        name, count, run.accepted, run.seconds, count / run.seconds, run.connections,
        run.serviceCpuSeconds, 100 * run.serviceCpuSeconds / run.seconds);
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
