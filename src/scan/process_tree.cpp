#include "scan/process_tree.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <deque>
#include <unordered_set>

#include "base/file_reading.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "scan/process_resolver.h"

namespace halvo {

bool isShellName(std::string_view name) {
    static const std::unordered_set<std::string_view> shells = {
        "sh", "bash", "dash", "zsh", "fish", "ksh", "mksh", "ash", "tcsh", "csh", "nu", "elvish",
    };
    return shells.contains(name);
}

bool isSessionProcessName(std::string_view name) {
    // Short names as /proc/PID/comm gives them (15 bytes at most).
    static const std::unordered_set<std::string_view> session = {
        "init",         "systemd",     "login",           "sshd",           "su",
        "sudo",         "doas",        "runuser",         "tmux",           "tmux: server",
        "tmux: client", "screen",      "SCREEN",          "zellij",         "byobu",
        "mosh-server",  "xterm",       "uxterm",          "urxvt",          "st",
        "konsole",      "kitty",       "alacritty",       "foot",           "wezterm-gui",
        "tilix",        "terminator",  "gnome-terminal-", "xfce4-terminal", "mate-terminal",
        "lxterminal",   "qterminal",   "terminology",     "ptyxis",         "kgx",
        "dbus-daemon",  "gnome-shell", "plasmashell",     "kwin_wayland",   "kwin_x11",
    };
    // Editors and IDEs start servers too, and their command lines may look
    // like development; ending one would lose the user's work.
    static const std::unordered_set<std::string_view> editors = {
        "vi",        "vim",     "vim.basic",    "vim.tiny",      "vim.gtk3", "gvim",   "nvim",
        "nano",      "micro",   "hx",           "helix",         "kak",      "emacs",  "emacs-gtk",
        "emacs-nox", "code",    "code-oss",     "code-insiders", "codium",   "cursor", "windsurf",
        "zed",       "lapce",   "sublime_text", "subl",          "kate",     "gedit",  "geany",
        "idea",      "pycharm", "webstorm",     "goland",        "clion",    "rider",  "phpstorm",
        "rubymine",  "studio",
    };
    return isShellName(name) || session.contains(name) || editors.contains(name);
}

std::optional<ProcessTreeEntry> parseStatTreeFields(std::string_view stat) {
    // "PID (NAME) STATE PPID PGRP SESSION ...": the name may hold ")" and spaces.
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::nullopt;
    }
    const std::vector<std::string_view> fields = splitNonEmpty(stat.substr(close + 1), ' ');
    // A zombie has ended; only its exit status waits to be collected.
    if (fields.size() < 4 || fields[0] == "Z" || fields[0] == "X") {
        return std::nullopt;
    }
    const auto parent = parseInt32(fields[1]);
    const auto group = parseInt32(fields[2]);
    const auto session = parseInt32(fields[3]);
    if (!parent || !group || !session) {
        return std::nullopt;
    }
    ProcessTreeEntry entry;
    entry.parentPid = *parent;
    entry.processGroup = *group;
    entry.sessionId = *session;
    entry.name = decodeUtf8Lossy(stat.substr(open + 1, close - open - 1));
    return entry;
}

ProcFsProcessTree::ProcFsProcessTree(std::string procRoot) : procRoot_(std::move(procRoot)) {}

std::optional<ProcessTreeEntry> ProcFsProcessTree::entry(int32_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    // Both files through one directory handle, so they describe one process.
    const std::string path = procRoot_ + "/" + std::to_string(pid);
    const UniqueFd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) {
        return std::nullopt;
    }
    const auto stat = readAll(UniqueFd(openat(dir.get(), "stat", O_RDONLY | O_CLOEXEC)));
    const auto status = readAll(UniqueFd(openat(dir.get(), "status", O_RDONLY | O_CLOEXEC)));
    if (!stat || !status) {
        return std::nullopt;
    }
    auto entry = parseStatTreeFields(*stat);
    const auto uid = parseStatusEffectiveUid(*status);
    const auto ticks = parseStatStartTicks(*stat);
    const auto startTime = ticks ? startTimeSinceBoot(*ticks) : std::nullopt;
    if (!entry || !uid || !startTime) {
        return std::nullopt;
    }
    entry->pid = pid;
    entry->uid = *uid;
    entry->startTime = *startTime;
    return entry;
}

std::vector<ProcessTreeEntry> ProcFsProcessTree::entries() {
    std::vector<int32_t> pids;
    if (DIR* dir = opendir(procRoot_.c_str())) {
        while (const dirent* item = readdir(dir)) {
            if (const auto pid = parseInt32(item->d_name); pid && *pid > 0) {
                pids.push_back(*pid);
            }
        }
        closedir(dir);
    }
    std::vector<ProcessTreeEntry> result;
    result.reserve(pids.size());
    for (int32_t pid : pids) {
        if (auto found = entry(pid)) {
            result.push_back(std::move(*found));
        }
    }
    return result;
}

namespace {

// Whether an interpreter's command line runs a script file or a module that
// is not itself a prompt: `node server.js`, `python3 -m http.server`, not
// `python3 -i app.py`, `node --inspect`, `python3 -m IPython` or a Jupyter
// kernel. Code given inline (-c, -e) is neither and does not count.
bool runsScript(std::string_view interpreter, const std::vector<std::string>& arguments) {
    static const std::unordered_set<std::string_view> promptModules = {
        "IPython",
        "ipykernel",
        "ipykernel_launcher",
        "jupyter_console",
        "ptpython",
        "bpython",
        "code",
        "pdb",
        "asyncio",
        "idlelib",
        "pyrepl",
        "_pyrepl",
    };
    // Options whose value is the next argument, so that value is no script.
    static const std::unordered_set<std::string_view> takesValue = {
        "-r",  "--require",    "--import",     "--loader", "--experimental-loader",
        "-C",  "--conditions", "-W",           "-X",       "-I",
        "-cp", "-classpath",   "--class-path", "-p",       "--module-path",
    };
    static const std::unordered_set<std::string_view> promptCommands = {"repl", "console", "c"};
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view a = arguments[i];
        if (a == "-i" || a == "--interactive" || a == "-c" || a == "-e" || a == "--eval" ||
            a == "--print") {
            return false;
        }
        if (a == "-m") {
            return i + 1 < arguments.size() &&
                   !promptModules.contains(
                       std::string_view(arguments[i + 1]).substr(0, arguments[i + 1].find('.')));
        }
        if (a == "--") {
            return i + 1 < arguments.size();
        }
        if (a.starts_with('-')) {
            // Python's combined short flags: `-iu` is as interactive as `-i`.
            if (interpreter == "python" && !a.starts_with("--") &&
                a.find('i') != std::string_view::npos) {
                return false;
            }
            i += takesValue.contains(a) ? 1 : 0;
            continue;
        }
        return !promptCommands.contains(a);  // `deno repl`, `bun repl`
    }
    return false;  // flags alone: a prompt
}

}  // namespace

bool isServerRunner(std::string_view name, const std::vector<std::string>& arguments) {
    // Package managers, task runners and watchers start servers and restart them.
    static const std::unordered_set<std::string_view> runners = {
        "npm",      "npx",     "pnpm",     "pnpx",    "yarn",        "nodemon",   "tsx",
        "ts-node",  "vite",    "next",     "turbo",   "nx",          "rails",     "bundle",
        "rake",     "foreman", "overmind", "honcho",  "go",          "air",       "cargo",
        "mvn",      "gradle",  "dotnet",   "artisan", "cargo-watch", "watchexec", "uvicorn",
        "gunicorn", "puma",    "flask",
    };
    // Interpreters count only while they run a script: alone, or at a
    // prompt, they hold the user's session. A script started through its
    // own #! line is named for the script (ipython3), not the interpreter.
    static const std::unordered_set<std::string_view> interpreters = {
        "node", "nodejs", "bun", "deno", "python", "ruby", "php", "java",
    };
    // npm and its kin rename themselves ("npm run dev"): the first word is
    // theirs. Versions go ("python3.11" is python).
    std::string command = toLower(name.substr(0, name.find(' ')));
    if (runners.contains(command)) {
        // `rails console` is a prompt too.
        return !(command == "rails" && arguments.size() > 1 &&
                 (arguments[1] == "console" || arguments[1] == "c" || arguments[1] == "dbconsole"));
    }
    while (!command.empty() &&
           ((command.back() >= '0' && command.back() <= '9') || command.back() == '.')) {
        command.pop_back();
    }
    return interpreters.contains(command) && runsScript(command, arguments);
}

DevelopmentCheck systemDevelopmentCheck() {
    return [](const ProcessTreeEntry& entry) {
        return isServerRunner(entry.name, ProcessResolver().readArguments(entry.pid));
    };
}

ProcessTree::ProcessTree(std::vector<ProcessTreeEntry> entries) {
    for (ProcessTreeEntry& entry : entries) {
        const int32_t pid = entry.pid;
        const int32_t parent = entry.parentPid;
        if (byPid_.emplace(pid, std::move(entry)).second && parent > 0 && parent != pid) {
            children_[parent].push_back(pid);
        }
    }
    for (auto& [parent, pids] : children_) {
        std::sort(pids.begin(), pids.end());
    }
}

const ProcessTreeEntry* ProcessTree::find(int32_t pid) const {
    const auto found = byPid_.find(pid);
    return found == byPid_.end() ? nullptr : &found->second;
}

const ProcessTreeEntry* ProcessTree::parent(int32_t pid) const {
    const ProcessTreeEntry* entry = find(pid);
    if (entry == nullptr || entry->pid <= 1 || entry->parentPid <= 1) {
        return nullptr;
    }
    return find(entry->parentPid);
}

int32_t ProcessTree::topDevelopmentAncestor(int32_t pid,
                                            const DevelopmentCheck& isDevelopment) const {
    const ProcessTreeEntry* start = find(pid);
    if (start == nullptr) {
        return pid;
    }
    // Same user, same session and job, and not the session's leader (the
    // login shell, the terminal's shell, a tmux pane): never above where the
    // user works, nor into another job of the same terminal.
    auto inSession = [&](const ProcessTreeEntry* p) {
        return p != nullptr && p->pid > 1 && p->uid == start->uid &&
               p->sessionId == start->sessionId && p->processGroup == start->processGroup &&
               p->pid != p->sessionId;
    };
    auto qualifies = [&](const ProcessTreeEntry* p) {
        return inSession(p) && !isSessionProcessName(p->name) && isDevelopment(*p);
    };
    const ProcessTreeEntry* top = start;
    std::unordered_set<int32_t> seen{top->pid};  // a table read while it changed may loop
    for (;;) {
        const ProcessTreeEntry* up = parent(top->pid);
        if (!qualifies(up)) {
            // A script runner between two development processes (npm -> sh -c vite).
            if (inSession(up) && isShellName(up->name) && qualifies(parent(up->pid))) {
                up = parent(up->pid);
            } else {
                return top->pid;
            }
        }
        if (!seen.insert(up->pid).second) {
            return top->pid;
        }
        top = up;
    }
}

std::vector<ProcessTreeEntry> ProcessTree::subtree(int32_t root) const {
    const ProcessTreeEntry* top = find(root);
    if (top == nullptr) {
        return {};
    }
    // Breadth first from the root gives depths that never fall; reversed,
    // the deepest come first and every child before its parent.
    std::vector<const ProcessTreeEntry*> order{top};
    std::unordered_set<int32_t> seen{root};
    for (size_t i = 0; i < order.size(); ++i) {
        const auto kids = children_.find(order[i]->pid);
        if (kids == children_.end()) {
            continue;
        }
        for (int32_t child : kids->second) {
            const ProcessTreeEntry* entry = find(child);
            // Another user's process (a setuid helper) is not ours to end, a
            // job of its own is not the command's, and a terminal, shell or
            // editor the server opened (a notebook's terminal) is where the
            // user works: none is part of the server, nor is anything they
            // started.
            if (entry != nullptr && entry->uid == top->uid && entry->sessionId == top->sessionId &&
                entry->processGroup == top->processGroup && entry->pid != entry->sessionId &&
                (isShellName(entry->name) || !isSessionProcessName(entry->name)) &&
                seen.insert(child).second) {
                order.push_back(entry);
            }
        }
    }
    std::vector<ProcessTreeEntry> result;
    result.reserve(order.size());
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        result.push_back(**it);
    }
    return result;
}

}  // namespace halvo
