#ifndef TRACKPOST_RATIO_REPORTER_H
#define TRACKPOST_RATIO_REPORTER_H

#include <benchmark/benchmark.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Console output plus a closing table of "ours / reference" throughput ratios. Benchmarks are
// paired by name: "<group>/Ours/<arg>" against "<group>/<reference>/<arg>".
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

  private:
    std::vector<std::string> order;
    std::map<std::string, double> rate;  // items or bytes per second, by benchmark name
    std::set<std::string> medianSeen;
};

// Runs the registered benchmarks with the ratio table; the body of a benchmark program's main.
int runBenchmarksWithRatios(int argc, char** argv);

#endif
