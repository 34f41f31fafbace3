// readerdesk-cli run as a real process: its standard output and error on pipes, its own
// configuration and home folders, and, where Ctrl+C matters, a pseudo-terminal as its
// controlling terminal so that ^C typed there reaches it as the line discipline sends it.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rd::cli::testing {

class CliProcess {
  public:
    // home: a private folder for HOME and XDG_CONFIG_HOME. withTerminal: the process gets a
    // pseudo-terminal of its own as controlling terminal and standard input. asUser: run as
    // this user, with its group alone (a test run by root sees what a user sees).
    struct User {
        uid_t uid;
        gid_t gid;
    };
    CliProcess(const std::vector<std::string>& args, const std::string& home, bool withTerminal = false,
               std::optional<User> asUser = std::nullopt) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        int slave = -1;
        if (withTerminal && ::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        // Everything the child needs is made here: between fork and exec it only calls what is
        // safe in the child of a process with threads (no allocation: another thread of the
        // test may hold the allocator's lock at the fork, and the child would wait for ever).
        std::vector<std::string> copy = args;
        std::string exe = READERDESK_CLI_EXE;
        std::vector<char*> argv{exe.data()};
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("HOME=", 0) != 0 && v.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
                v.rfind("READERDESK_PORT_DIR=", 0) != 0)
                env.push_back(v);
        }
        env.push_back("HOME=" + home);
        env.push_back("XDG_CONFIG_HOME=" + home + "/config");
        std::vector<char*> envp;
        for (auto& v : env)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        start_ = std::chrono::steady_clock::now();
        pid_ = ::fork();
        if (pid_ == 0) {
            if (withTerminal) {
                // The terminal's master end stays with the test alone, so that closing it
                // hangs the terminal up.
                ::close(master_);
                ::setsid();
                ::ioctl(slave, TIOCSCTTY, 0);
                ::dup2(slave, 0);
                ::close(slave);
            }
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            if (asUser &&
                (::setgroups(0, nullptr) != 0 || ::setgid(asUser->gid) != 0 || ::setuid(asUser->uid) != 0))
                ::_exit(126);
            // The signals as a shell leaves them for a program it starts.
            ::signal(SIGINT, SIG_DFL);
            ::signal(SIGTERM, SIG_DFL);
            ::signal(SIGHUP, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::execve(exe.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        if (slave >= 0)
            ::close(slave);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }

    ~CliProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {out_, err_, master_})
            if (fd >= 0)
                ::close(fd);
    }

    // Reads what the process wrote until its standard error holds text, or timeoutMs passed.
    bool WaitForStderr(const std::string& text, int timeoutMs = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (err.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= end || !ReadSome(50))
                return err.find(text) != std::string::npos;
        }
        return true;
    }

    // Types ^C on its terminal.
    void TypeCtrlC() { ASSERT_EQ(::write(master_, "\x03", 1), 1); }
    // Closes its terminal, as a terminal window closed or an ssh connection dropped does: the
    // system hangs it up (SIGHUP).
    void CloseTerminal() {
        ::close(master_);
        master_ = -1;
    }
    void Signal(int sig) { ::kill(pid_, sig); }

    // Reads to the end and returns the exit code (-1: it did not exit by itself in time,
    // or ended by a signal).
    int Wait(int timeoutMs = 20000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while ((out_ >= 0 || err_ >= 0) && std::chrono::steady_clock::now() < end)
            ReadSome(50);
        int status = 0;
        for (;;) {
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_)
                break;
            if (std::chrono::steady_clock::now() >= end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                exited_ = true;
                return -1;
            }
            ::usleep(10000);
        }
        exited_ = true;
        elapsedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
                .count();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Standard output as lines, and each line as a JSON object (a failure where one is not).
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string cur;
        for (char c : out) {
            if (c == '\n') {
                lines.push_back(cur);
                cur.clear();
            } else {
                cur += c;
            }
        }
        if (!cur.empty())
            lines.push_back(cur);
        return lines;
    }
    std::vector<QJsonObject> JsonLines() const {
        std::vector<QJsonObject> objects;
        for (const std::string& line : Lines()) {
            QJsonParseError e{};
            const QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(line), &e);
            EXPECT_EQ(e.error, QJsonParseError::NoError) << line;
            EXPECT_TRUE(d.isObject()) << line;
            objects.push_back(d.object());
        }
        return objects;
    }
    // The objects of one type.
    std::vector<QJsonObject> Json(const char* type) const {
        std::vector<QJsonObject> objects;
        for (const QJsonObject& o : JsonLines())
            if (o.value(QStringLiteral("type")).toString() == QLatin1String(type))
                objects.push_back(o);
        return objects;
    }

    std::string out;
    std::string err;
    long long elapsedMs = 0;

  private:
    // Reads what is there within timeoutMs; false once both pipes are at their end.
    bool ReadSome(int timeoutMs) {
        pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(p, 2, timeoutMs) <= 0)
            return out_ >= 0 || err_ >= 0;
        int* fds[2] = {&out_, &err_};
        std::string* bufs[2] = {&out, &err};
        for (int i = 0; i < 2; ++i) {
            if (*fds[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            const ssize_t n = ::read(*fds[i], buf, sizeof buf);
            if (n > 0) {
                bufs[i]->append(buf, std::size_t(n));
            } else {
                ::close(*fds[i]);
                *fds[i] = -1;
            }
        }
        return out_ >= 0 || err_ >= 0;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int master_ = -1;
    bool exited_ = false;
    std::chrono::steady_clock::time_point start_;
};

} // namespace rd::cli::testing
