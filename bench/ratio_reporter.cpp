#include "ratio_reporter.h"

#include <cstdio>

namespace {

// "SHA1/Ours/1024" -> {"SHA1", "Ours", "1024"}
bool splitName(const std::string& name, std::string& group, std::string& who, std::string& arg) {
    const size_t a = name.find('/');
    if (a == std::string::npos) return false;
    const size_t b = name.find('/', a + 1);
    group = name.substr(0, a);
    who = name.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
    arg = b == std::string::npos ? "" : name.substr(b);
    return true;
}

}  // namespace

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
        // With repetitions, the median stands for the benchmark.
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (run.run_type != Run::RT_Iteration && !median) continue;
        const std::string name = run.run_name.str();
        if (run.run_type == Run::RT_Iteration && rate.count(name) && medianSeen.count(name))
            continue;
        const auto bytes = run.counters.find("bytes_per_second");
        const auto items = run.counters.find("items_per_second");
        double value = 0;
        if (bytes != run.counters.end())
            value = bytes->second;
        else if (items != run.counters.end())
            value = items->second;
        else
            continue;
        if (!rate.count(name)) order.push_back(name);
        rate[name] = value;
        if (median) medianSeen.insert(name);
    }
}

void RatioReporter::Finalize() {
    ConsoleReporter::Finalize();
    bool header = false;
    for (const auto& name : order) {
        std::string group, who, arg;
        if (!splitName(name, group, who, arg) || who == "Ours") continue;
        const auto ours = rate.find(group + "/Ours" + arg);
        if (ours == rate.end() || rate[name] <= 0) continue;
        if (!header) {
            std::printf("\n%-28s %14s %14s %8s\n", "ratio ours/reference", "ours", "reference",
                        "ratio");
            header = true;
        }
        std::printf("%-28s %14.4g %14.4g %8.3f\n", (group + arg + " vs " + who).c_str(),
                    ours->second, rate[name], ours->second / rate[name]);
    }
    std::fflush(stdout);
}

int runBenchmarksWithRatios(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
