// The host simulator as a child process driven over pipes: commands on its standard input, its
// output read line by line as it comes, every wait bounded.
#ifndef TRACKPOST_TESTS_SIM_PROCESS_H
#define TRACKPOST_TESTS_SIM_PROCESS_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class SimProcess {
  public:
    struct Line {
        bool error;  // from standard error
        std::string text;
    };
    using Clock = std::chrono::steady_clock;

    // Runs `argv` with the environment changed by `env` (an empty value removes the variable).
    SimProcess(const std::vector<std::string>& argv,
               const std::map<std::string, std::string>& env) {
        signal(SIGPIPE, SIG_IGN);  // a child that has gone shows up as a failed write
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<std::string> environment = mergedEnvironment(env);
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        args.push_back(nullptr);
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        input_ = in[1];
        reader_ = std::thread([this, out = out[0], err = err[0]] { readLines(out, err); });
    }

    ~SimProcess() {
        if (pid_ > 0 && !exitCode_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        closeInput();
        if (reader_.joinable()) reader_.join();
    }

    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool started() const { return pid_ > 0; }

    // Writes one line to the simulator's standard input (a command, or an answer to a dialog).
    bool send(const std::string& line) {
        const std::string text = line + "\n";
        std::size_t done = 0;
        while (input_ >= 0 && done < text.size()) {
            const ssize_t n = write(input_, text.data() + done, text.size() - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return done == text.size();
    }

    std::size_t lineCount() {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_.size();
    }

    // The first line from index `from` on that `wanted` accepts, waiting up to `limit` for it.
    std::optional<Line> waitForLine(const std::function<bool(const Line&)>& wanted,
                                    std::size_t from, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> guard(lock_);
        const auto deadline = Clock::now() + limit;
        for (std::size_t i = from;; ++i) {
            if (!changed_.wait_until(guard, deadline, [&] { return i < lines_.size() || ended_; }))
                return std::nullopt;
            if (i >= lines_.size()) return std::nullopt;  // the output ended
            if (wanted(lines_[i])) return lines_[i];
        }
    }

    // Waits until the condition over all lines so far holds, or `limit` passes.
    bool waitUntil(const std::function<bool(const std::vector<Line>&)>& holds,
                   std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_until(guard, Clock::now() + limit, [&] {
            return holds(lines_) || ended_;
        }) && holds(lines_);
    }

    // Ends the input and waits up to `limit` for the exit; the exit status, -1 when the process
    // was killed for taking longer or ended by a signal.
    int finish(std::chrono::milliseconds limit) {
        closeInput();
        const auto deadline = Clock::now() + limit;
        while (pid_ > 0 && !exitCode_) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (Clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                exitCode_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (reader_.joinable()) reader_.join();
        return exitCode_.value_or(-1);
    }

    // Everything read so far, standard error's lines marked with "! ".
    std::string transcript() {
        std::lock_guard<std::mutex> guard(lock_);
        std::string all;
        for (const Line& line : lines_) all += (line.error ? "! " : "  ") + line.text + "\n";
        return all;
    }

    std::vector<Line> lines() {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }

  private:
    static std::vector<std::string> mergedEnvironment(
        const std::map<std::string, std::string>& changes) {
        std::vector<std::string> out;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (changes.count(entry.substr(0, entry.find('='))) == 0) out.push_back(entry);
        }
        for (const auto& [name, value] : changes)
            if (!value.empty()) out.push_back(name + "=" + value);
        return out;
    }

    void closeInput() {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }

    void readLines(int out, int err) {
        pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
        std::string partial[2];
        int open = 2;
        while (open > 0) {
            if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
            for (int k = 0; k < 2; ++k) {
                if (fds[k].fd < 0 || fds[k].revents == 0) continue;
                char chunk[4096];
                const ssize_t n = read(fds[k].fd, chunk, sizeof chunk);
                if (n <= 0) {
                    close(fds[k].fd);
                    fds[k].fd = -1;
                    --open;
                    if (!partial[k].empty()) add(k == 1, std::move(partial[k]));
                    continue;
                }
                partial[k].append(chunk, static_cast<std::size_t>(n));
                for (std::size_t end; (end = partial[k].find('\n')) != std::string::npos;) {
                    add(k == 1, partial[k].substr(0, end));
                    partial[k].erase(0, end + 1);
                }
            }
        }
        std::lock_guard<std::mutex> guard(lock_);
        ended_ = true;
        changed_.notify_all();
    }

    void add(bool error, std::string text) {
        std::lock_guard<std::mutex> guard(lock_);
        lines_.push_back({error, std::move(text)});
        changed_.notify_all();
    }

    pid_t pid_ = -1;
    int input_ = -1;
    std::optional<int> exitCode_;
    std::thread reader_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Line> lines_;
    bool ended_ = false;
};

// The seconds stamp the simulator puts before an event line ("[   12.345] ..."), or -1.
inline double eventStamp(const std::string& line) {
    if (line.empty() || line[0] != '[') return -1;
    return std::atof(line.c_str() + 1);
}

#endif
