#include "support/test_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/pidfd.h"

namespace halvo::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvo-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::makeDir(const std::string& relative) const {
    auto full = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(full);
    return full.string();
}

std::string TempDir::writeFile(const std::string& relative, const std::string& text,
                               int mode) const {
    auto full = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << text;
    chmod(full.c_str(), static_cast<mode_t>(mode));
    return full.string();
}

namespace {

// Gone means no /proc entry, or a zombie waiting for whoever adopted it.
bool processGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    return close == std::string::npos || (close + 2 < text.size() && text[close + 2] == 'Z');
}

}  // namespace

int endingSignal(pid_t pid) {
    const PidfdOpening opening = openPidfd(pid);
    pollfd exited{opening.pidfd.get(), POLLIN, 0};
    siginfo_t info{};
    if (poll(&exited, 1, 5000) != 1 ||
        waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
        return -1;
    }
    return info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED ? info.si_status : 0;
}

bool processEnds(pid_t pid) {
    // SIGKILL is delivered asynchronously: give the kernel a moment.
    for (int i = 0; i < 500 && !processGone(pid); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return processGone(pid);
}

bool recordedProcessEnds(const std::string& pidFile) {
    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    if (pid <= 0) {
        return false;
    }
    if (processEnds(pid)) {
        return true;
    }
    ::kill(pid, SIGKILL);
    return false;
}

std::string listenerPath() {
    return HALVO_TEST_LISTENER;
}

std::string listenerNamed(const TempDir& dir, const std::string& name) {
    auto link = std::filesystem::path(dir.makeDir("bin")) / name;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(listenerPath(), link);
    return link.string();
}

std::string listenerCopy(const TempDir& dir, const std::string& name) {
    auto copy = std::filesystem::path(dir.makeDir("bin")) / name;
    // An existing copy may be running: reuse it rather than write over it.
    std::filesystem::copy_file(listenerPath(), copy, std::filesystem::copy_options::skip_existing);
    return copy.string();
}

std::unique_ptr<ListenerProcess> ListenerProcess::start(const ListenerOptions& options) {
    const std::string executable = options.executable.empty() ? listenerPath() : options.executable;
    std::vector<std::string> args{options.argv0.value_or(executable)};
    args.insert(args.end(), options.listenerArgs.begin(), options.listenerArgs.end());
    if (!options.extraArgs.empty()) {
        args.push_back("--");
        args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
    }
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid == 0) {  // only async-signal-safe calls until the exec
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        if ((!options.workingDirectory || chdir(options.workingDirectory->c_str()) == 0) &&
            (!options.newSession || setsid() >= 0)) {
            execv(executable.c_str(), argv.data());
        }
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    std::unique_ptr<ListenerProcess> process(new ListenerProcess());
    process->pid_ = pid;
    process->stdinFd_ = in[1];

    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        line += c;
    }
    close(out[0]);
    if (line.rfind("ports:", 0) != 0) {
        throw std::runtime_error("listener did not start: " + line);
    }
    std::istringstream words(line.substr(6));
    int64_t port = 0;
    while (words >> port) {
        process->ports_.push_back(port);
    }
    return process;
}

ListenerProcess::~ListenerProcess() {
    stop();
}

bool ListenerProcess::running() const {
    return pid_ > 0 && !processGone(pid_);
}

void ListenerProcess::closeInput() {
    if (stdinFd_ >= 0) {
        close(stdinFd_);
        stdinFd_ = -1;
    }
}

bool ListenerProcess::stop() {
    closeInput();
    if (pid_ <= 0) {
        return true;
    }
    const bool ended = endingSignal(pid_) != -1;  // waits up to five seconds
    if (!ended) {
        ::kill(pid_, SIGKILL);  // our own child, which has not gone in time
    }
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return ended;
}

ScopedEnvironment::~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second) {
            setenv(it->first.c_str(), it->second->c_str(), 1);
        } else {
            unsetenv(it->first.c_str());
        }
    }
}

void ScopedEnvironment::set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

void ScopedEnvironment::prependPath(const std::string& dir) {
    const char* path = std::getenv("PATH");
    set("PATH", dir + ":" + (path ? path : "/usr/bin:/bin"));
}

}  // namespace halvo::testing
