#include "SandboxService.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "twitterclient.h"

extern char** environ;

namespace {

const std::string sandboxDir = TRACKPOST_SANDBOX_DIR;

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

bool exited(pid_t pid, int waitMs) {
    for (int waited = 0; waited <= waitMs; waited += 20) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

SandboxService::~SandboxService() {
    stop();
}

std::string SandboxService::caFile() {
    return sandboxDir + "/certs/ca.pem";
}

const nlohmann::json& SandboxService::credentials() {
    static const nlohmann::json creds = [] {
        std::ifstream in(sandboxDir + "/credentials.json");
        return nlohmann::json::parse(in);
    }();
    return creds;
}

bool SandboxService::start(int port) {
    if (pid_ > 0) return true;
    char name[] = "/tmp/trackpost-sandbox-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) {
        error_ = "cannot create a file for the sandbox's output";
        return false;
    }
    close(fd);
    stdoutFile_ = name;

    const std::string serve = sandboxDir + "/serve";
    const std::string portText = std::to_string(port);
    std::vector<const char*> argv = {"/usr/bin/python3", serve.c_str(), "--port", portText.c_str(),
                                     "--quiet"};
    for (const std::string& option : options_) argv.push_back(option.c_str());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutFile_.c_str(),
                                     O_WRONLY | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int rc =
        posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        error_ = "cannot start " + serve;
        return false;
    }

    // The first line of its output is the port; give it up to 30 s.
    for (int waited = 0; waited < 30000; waited += 20) {
        std::ifstream out(stdoutFile_);
        std::string line;
        if (std::getline(out, line) && !out.eof()) {
            port_ = std::atoi(line.c_str());
            if (port_ > 0) return true;
            break;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "the sandbox exited before it listened";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "the sandbox did not report its port";
    stop();
    return false;
}

void SandboxService::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        if (!exited(pid_, 5000)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    if (!stdoutFile_.empty()) {
        std::remove(stdoutFile_.c_str());
        stdoutFile_.clear();
    }
    port_ = 0;
}

void SandboxService::configure(twitterClient& client, bool withToken) const {
    const auto& creds = credentials();
    client.setProxyServerIp("127.0.0.1");
    client.setProxyServerPort(std::to_string(port_));
    client.setCaInfo(caFile());
    client.getOAuth().setConsumerKey(creds.at("consumer_key"));
    client.getOAuth().setConsumerSecret(creds.at("consumer_secret"));
    if (withToken) {
        client.getOAuth().setOAuthTokenKey(creds.at("access_token"));
        client.getOAuth().setOAuthTokenSecret(creds.at("access_token_secret"));
    }
}

bool SandboxService::adminRequest(const std::string& method, const std::string& path,
                                  const std::string& body, std::string& response) const {
    CURL* curl = curl_easy_init();
    if (!curl) return false;
    const std::string url = "http://127.0.0.1:" + std::to_string(port_) + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    if (method == "POST") curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, body.c_str());
    long status = 0;
    const bool ok = curl_easy_perform(curl) == CURLE_OK &&
                    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
                    status == 200;
    curl_easy_cleanup(curl);
    return ok;
}

nlohmann::json SandboxService::log() const {
    return adminList("/__log");
}

nlohmann::json SandboxService::timeline() const {
    return adminList("/__timeline");
}

nlohmann::json SandboxService::timeline(const std::string& host) const {
    return adminList("/__timeline?host=" + host);
}

nlohmann::json SandboxService::adminList(const std::string& path) const {
    std::string response;
    if (!adminRequest("GET", path, "", response)) return nlohmann::json::array();
    return nlohmann::json::parse(response, nullptr, false);
}

bool SandboxService::reset() const {
    std::string response;
    return adminRequest("POST", "/__reset", "", response);
}

bool SandboxService::queueFault(const nlohmann::json& fault) const {
    std::string response;
    return adminRequest("POST", "/__faults", fault.dump(), response);
}

bool SandboxService::setMode(const nlohmann::json& changes) const {
    std::string response;
    return adminRequest("POST", "/__mode", changes.dump(), response);
}
