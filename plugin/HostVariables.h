#ifndef TRACKPOST_HOST_VARIABLES_H
#define TRACKPOST_HOST_VARIABLES_H

#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Host variables decided on any thread and handed to the host on its own thread, the only one
// where it takes commands. Between two hand-overs the last value set wins.
class HostVariables {
  public:
    // Any thread.
    void set(const std::string& name, const std::string& value);
    // The commands ("set $name value") due since the last hand-over, in the order their names
    // were first set; afterwards none is due.
    std::vector<std::string> take();

  private:
    std::mutex lock_;
    std::vector<std::pair<std::string, std::string>> due_;
};

#endif
