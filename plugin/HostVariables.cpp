#include "HostVariables.h"

void HostVariables::set(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [dueName, dueValue] : due_)
        if (dueName == name) {
            dueValue = value;
            return;
        }
    due_.emplace_back(name, value);
}

std::vector<std::string> HostVariables::take() {
    std::vector<std::pair<std::string, std::string>> due;
    {
        std::lock_guard<std::mutex> guard(lock_);
        due.swap(due_);
    }
    std::vector<std::string> commands;
    commands.reserve(due.size());
    for (const auto& [name, value] : due) commands.push_back("set $" + name + " " + value);
    return commands;
}
