#ifndef SPINFORGE_SIM_CONSOLE_H
#define SPINFORGE_SIM_CONSOLE_H

#include <chrono>
#include <mutex>
#include <string>

// Lines for the person following the simulation, stamped with the seconds since start. Safe from
// any thread.
class Console {
  public:
    Console();
    void event(const std::string& line);  // stamped
    void plain(const std::string& line);  // as it is
    void error(const std::string& line);  // to stderr, stamped
    // Seconds since the epoch at which the stamps count from, to relate them to other clocks.
    double startEpoch() const { return startEpoch_; }

  private:
    std::string stamp() const;

    std::mutex lock_;
    std::chrono::steady_clock::time_point start_;
    double startEpoch_;
};

#endif
