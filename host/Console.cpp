#include "Console.h"

#include <cstdio>
#include <iostream>

Console::Console()
    : start_(std::chrono::steady_clock::now()),
      startEpoch_(std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                      .count()) {}

std::string Console::stamp() const {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char text[32];
    std::snprintf(text, sizeof text, "[%9.3f] ", seconds);
    return text;
}

void Console::event(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    std::cout << stamp() << line << std::endl;
}

void Console::plain(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    std::cout << line << std::endl;
}

void Console::error(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    std::cout.flush();
    std::cerr << stamp() << line << std::endl;
}
