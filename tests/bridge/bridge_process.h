// readerdesk-bridge run as a real process for a test: its arguments and environment made before
// the spawn (HOME and XDG_CONFIG_HOME in the test's folder; READERDESK_MQTT_PASSWORD only when
// given), standard output and error in files of that folder, the json log read line by line.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace rd::bridge::testing {

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class BridgeProcess {
  public:
    BridgeProcess(const std::vector<std::string>& args, const std::string& dir,
                  std::optional<std::string> passwordEnv = std::nullopt)
        : dir_(dir) {
        std::vector<std::string> copy = args;
        std::string exe = READERDESK_BRIDGE_EXE;
        copy.insert(copy.begin(), exe);
        std::vector<char*> argv;
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("HOME=", 0) != 0 && v.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
                v.rfind("READERDESK_", 0) != 0)
                env.push_back(v);
            else if (v.rfind("READERDESK_LOCK_DIR=", 0) == 0)
                env.push_back(v);
        }
        env.push_back("HOME=" + dir);
        env.push_back("XDG_CONFIG_HOME=" + dir + "/config");
        if (passwordEnv)
            env.push_back("READERDESK_MQTT_PASSWORD=" + *passwordEnv);
        std::vector<char*> envp;
        for (auto& v : env)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, (dir + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&fa, 2, (dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        // The signals as a shell leaves them for a program it starts.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none, all;
        sigemptyset(&none);
        sigemptyset(&all);
        sigaddset(&all, SIGINT);
        sigaddset(&all, SIGTERM);
        sigaddset(&all, SIGHUP);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (::posix_spawn(&pid_, exe.c_str(), &fa, &attr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        posix_spawnattr_destroy(&attr);
    }
    ~BridgeProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    BridgeProcess(const BridgeProcess&) = delete;
    BridgeProcess& operator=(const BridgeProcess&) = delete;

    bool started() const { return pid_ > 0; }
    void Signal(int sig) { ::kill(pid_, sig); }

    // The exit code; -1 when it did not exit by itself within timeoutMs (then it is killed) or
    // ended by a signal.
    int Wait(int timeoutMs = 15000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        for (;;) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                break;
            if (std::chrono::steady_clock::now() >= end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                exited_ = true;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        exited_ = true;
        return WIFEXITED(status) && !WIFSIGNALED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Stdout() const { return ReadWhole(dir_ + "/stdout"); }
    std::string Stderr() const { return ReadWhole(dir_ + "/stderr"); }

    // The events of a json log (one object a line).
    static std::vector<nlohmann::json> Events(const std::string& path) {
        std::vector<nlohmann::json> events;
        std::istringstream in(ReadWhole(path));
        std::string line;
        while (std::getline(in, line)) {
            nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
            if (!j.is_discarded())
                events.push_back(std::move(j));
        }
        return events;
    }
    // Waits until the events of the log at path hold one for which pred is true.
    static bool WaitForEvent(const std::string& path, const std::function<bool(const nlohmann::json&)>& pred,
                             int timeoutMs = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            for (const auto& e : Events(path))
                if (pred(e))
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }

  private:
    std::string dir_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

} // namespace rd::bridge::testing
