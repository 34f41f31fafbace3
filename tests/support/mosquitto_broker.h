// A real Mosquitto broker for a test: Debian's `mosquitto`, started on a free loopback port
// with a configuration of its own in a temporary folder, stopped (and restartable on the
// same port) by the test. No network beyond 127.0.0.1.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

// A port on 127.0.0.1 that nobody listens on at the moment of asking.
inline int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

inline bool LoopbackPortAccepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

class MosquittoBroker {
  public:
    // `extraConfig` is added to the configuration: "allow_anonymous true" unless it says
    // otherwise, a password_file, an acl_file, TLS certificates. The folder of the
    // configuration is dir(); files the configuration names may be put there first.
    explicit MosquittoBroker(std::string extraConfig = "allow_anonymous true\n")
        : extra_(std::move(extraConfig)), port_(FreeLoopbackPort()) {
        char pattern[] = "/tmp/readerdesk-broker-XXXXXX";
        dir_ = ::mkdtemp(pattern);
    }
    ~MosquittoBroker() {
        stop();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    const std::string& dir() const { return dir_; }
    int port() const { return port_; }
    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

    // Starts it and waits until it accepts connections (false after 10 s).
    bool start() {
        const std::string conf = dir_ + "/mosquitto.conf";
        {
            std::ofstream out(conf);
            const passwd* me = ::getpwuid(::getuid());
            out << "listener " << port_ << " 127.0.0.1\n"
                << "persistence false\n"
                << "log_dest file " << dir_ << "/broker.log\n"
                << "log_type all\n"
                << "user " << (me ? me->pw_name : "root") << "\n"
                << extra_;
        }
        std::vector<std::string> args{"mosquitto", "-c", conf};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawnp(&pid_, "mosquitto", nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (LoopbackPortAccepts(port_)) {
                return true;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::kill(pid_, SIGCONT); // a paused broker ends too
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

    // Holds the broker still (SIGSTOP): connections stay open, nothing is answered.
    void pause() {
        if (pid_ > 0)
            ::kill(pid_, SIGSTOP);
    }
    void resume() {
        if (pid_ > 0)
            ::kill(pid_, SIGCONT);
    }

    // The broker's own log, for a failure message.
    std::string log() const {
        std::ifstream in(dir_ + "/broker.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Adds lines to the configuration of the next start().
    void addConfig(const std::string& lines) { extra_ += lines; }

    // Adds a user to the broker's password file (mosquitto_passwd -b) and names the file in
    // the configuration of the next start().
    bool addUser(const std::string& user, const std::string& password) {
        const std::string file = dir_ + "/passwords";
        if (!std::filesystem::exists(file)) {
            std::ofstream(file).flush();
            extra_ += "password_file " + file + "\n";
        }
        const std::string cmd = "mosquitto_passwd -b '" + file + "' '" + user + "' '" + password + "'";
        return std::system(cmd.c_str()) == 0;
    }

  private:
    std::string extra_;
    int port_;
    std::string dir_;
    pid_t pid_ = -1;
};

} // namespace testsupport
