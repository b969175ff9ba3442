#include "cli/picker_terminal.h"

#include <curses.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace halvo {
namespace {

// What a signal handler needs to give the terminal back, prepared up front
// since a handler may only write and set the terminal's modes. Static: a
// signal handler can reach nothing else.
struct Restoration {
    termios modes{};
    char sequence[256]{};
    size_t length = 0;
};
Restoration gRestoration;  // written before the handlers are installed, then only read

constexpr int kFatalSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGSEGV,
                                 SIGBUS,  SIGFPE, SIGILL, SIGABRT, SIGPIPE};

void restoreAndDie(int signal) {
    [[maybe_unused]] const ssize_t written =
        write(STDOUT_FILENO, gRestoration.sequence, gRestoration.length);
    tcsetattr(STDOUT_FILENO, TCSAFLUSH, &gRestoration.modes);
    // SA_RESETHAND put the default action back: the process ends as the signal meant.
    raise(signal);
}

// Attributes, then colours, leave the screen, show the cursor, keypad local.
void prepareRestoration() {
    size_t length = 0;
    for (const char* name : {"sgr0", "op", "cnorm", "rmkx", "rmcup"}) {
        const char* capability = tigetstr(name);
        if (capability == nullptr || capability == reinterpret_cast<char*>(-1)) {
            continue;
        }
        const size_t n = std::strlen(capability);
        if (length + n < sizeof(gRestoration.sequence)) {
            std::memcpy(gRestoration.sequence + length, capability, n);
            length += n;
        }
    }
    gRestoration.length = length;
}

enum Pair : short { accentPair = 1, tickedPair, successPair, failurePair };

attr_t attributesOf(LineStyle style, bool colours) {
    const auto colour = [&](short pair) { return colours ? COLOR_PAIR(pair) : A_NORMAL; };
    switch (style) {
        case LineStyle::query:
            return A_BOLD;
        case LineStyle::header:
            return A_BOLD | colour(accentPair);
        case LineStyle::highlighted:
            return A_REVERSE | A_BOLD;
        case LineStyle::ticked:
            return A_BOLD | colour(tickedPair);
        case LineStyle::feedback:
            return colour(successPair);
        case LineStyle::failure:
            return A_BOLD | colour(failurePair);
        case LineStyle::footer:
            return A_DIM;
        case LineStyle::row:
        case LineStyle::note:
            break;
    }
    return A_NORMAL;
}

}  // namespace

std::unique_ptr<PickerTerminal> PickerTerminal::open() {
    if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0 ||
        tcgetattr(STDOUT_FILENO, &gRestoration.modes) != 0) {
        return nullptr;
    }
    std::setlocale(LC_ALL, "");
    SCREEN* screen = newterm(nullptr, stdout, stdin);
    if (screen == nullptr) {
        return nullptr;
    }
    std::unique_ptr<PickerTerminal> terminal(new PickerTerminal(screen));
    prepareRestoration();
    struct sigaction action {};
    action.sa_handler = restoreAndDie;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (const int signal : kFatalSignals) {
        sigaction(signal, &action, nullptr);
    }
    raw();  // Ctrl+C is a key that quits, not a signal
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    set_escdelay(25);
    // https://no-color.org: present and not empty.
    const char* noColor = std::getenv("NO_COLOR");
    if ((noColor == nullptr || *noColor == '\0') && has_colors()) {
        start_color();
        use_default_colors();
        // The eight basic colours, which a 16-colour terminal has too.
        init_pair(accentPair, COLOR_CYAN, -1);
        init_pair(tickedPair, COLOR_YELLOW, -1);
        init_pair(successPair, COLOR_GREEN, -1);
        init_pair(failurePair, COLOR_RED, -1);
        terminal->colours_ = true;
    }
    return terminal;
}

PickerTerminal::~PickerTerminal() {
    endwin();
    for (const int signal : kFatalSignals) {
        std::signal(signal, SIG_DFL);
    }
    delscreen(screen_);
}

size_t PickerTerminal::width() const {
    return static_cast<size_t>(std::max(getmaxx(stdscr), 0));
}

size_t PickerTerminal::height() const {
    return static_cast<size_t>(std::max(getmaxy(stdscr), 0));
}

void PickerTerminal::draw(const PickerScreen& screen) {
    int y = 0;
    for (const ScreenLine& line : screen.lines) {
        const attr_t attributes = attributesOf(line.style, colours_);
        attrset(attributes);
        mvaddstr(y, 0, line.text.c_str());
        clrtoeol();
        if (line.style == LineStyle::highlighted) {
            mvchgat(y, 0, -1, attributes, 0, nullptr);  // the whole width
        }
        ++y;
    }
    attrset(A_NORMAL);
    move(0, static_cast<int>(screen.cursorColumn));
    refresh();
}

std::optional<TerminalKey> PickerTerminal::readKey() {
    wint_t code = 0;
    int kind = ERR;
    do {
        errno = 0;
        kind = get_wch(&code);
    } while (kind == ERR && errno == EINTR);
    if (kind == ERR) {
        return std::nullopt;
    }
    return TerminalKey{kind == KEY_CODE_YES, static_cast<uint32_t>(code)};
}

}  // namespace halvo
