// The readerdesk program started by a test, as a field engineer starts it: the offscreen
// platform, a configuration folder of its own, its output thrown away.
#pragma once

#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace rd::testing {

// Starts READERDESK_EXE with args; the child's process id (-1 when fork failed). Arguments and
// environment are made before the fork: the child only calls what is safe in the child of a
// process with threads (the simulator's run beside the test), then execve.
inline pid_t StartWindowProgram(const std::vector<std::string>& args, const std::string& configDir) {
    std::string exe = READERDESK_EXE;
    std::vector<std::string> copy = args;
    std::vector<char*> argv{exe.data()};
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind("QT_QPA_PLATFORM=", 0) != 0 && v.rfind("XDG_CONFIG_HOME=", 0) != 0)
            env.push_back(v);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("XDG_CONFIG_HOME=" + configDir);
    std::vector<char*> envp;
    for (auto& v : env)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execve(exe.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

} // namespace rd::testing
