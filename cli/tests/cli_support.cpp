#include "cli/tests/cli_support.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace kelvo::test {

namespace {

// Never the user's own lists and cache: the runs share a directory of the
// test program's, which the unprivileged runs reach too.
struct OwnHome {
    OwnHome() : path((std::filesystem::temp_directory_path() / "kelvo-cli-XXXXXX").string()) {
        EXPECT_TRUE(::mkdtemp(path.data()) && ::chmod(path.c_str(), 0755) == 0) << path;
    }
    ~OwnHome() { std::filesystem::remove_all(path, ignored); }
    std::string path;
    std::error_code ignored;
};

const std::string& ownHome() {
    static const OwnHome home;
    return home.path;
}

} // namespace

CliRun runCli(const std::vector<std::string>& args, const std::string& directory, uid_t uid,
              const std::vector<std::string>& env) {
    CliRun run;
    std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + ownHome() + "/config",
                                            "XDG_CACHE_HOME=" + ownHome() + "/cache"};
    environment.insert(environment.end(), env.begin(), env.end());
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
        return run;
    std::vector<char*> argv{const_cast<char*>(KELVO_CLI)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        for (std::string& setting : environment)
            ::putenv(setting.data());
        const bool dropped = uid == uid_t(-1) || (::setgroups(0, nullptr) == 0 &&
                                                  ::setgid(gid_t(uid)) == 0 && ::setuid(uid) == 0);
        if (dropped && ::chdir(directory.c_str()) == 0)
            ::execv(KELVO_CLI, argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    for (int open = 2; open > 0;) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ADD_FAILURE() << "kelvo-gba-cli hung; killed";
            break;
        }
        if (::poll(fds, 2, 1000) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, std::size_t(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

} // namespace kelvo::test
