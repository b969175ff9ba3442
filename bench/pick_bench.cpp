// What a key press costs in halvo-cli pick over 10,000 rows: the key, the
// filter, the layout of the screen and ncurses writing it to a real
// pseudo-terminal of 200 by 50. A frame is 16 ms.
#include <benchmark/benchmark.h>
#define NCURSES_NOMACROS
#include <curses.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "busy_rows.h"
#include "cli/picker_layout.h"
#include "cli/picker_terminal.h"

namespace halvo {
namespace {

// The picker's standard input and output on a pseudo-terminal while the value
// lives; what it writes is read and dropped.
class PseudoTerminal {
  public:
    PseudoTerminal() {
        winsize size{};
        size.ws_row = 50;
        size.ws_col = 200;
        setenv("TERM", "xterm-256color", 0);
        int secondary = -1;
        openpty(&primary_, &secondary, nullptr, nullptr, &size);
        std::fflush(stdout);
        savedIn_ = dup(STDIN_FILENO);
        savedOut_ = dup(STDOUT_FILENO);
        dup2(secondary, STDIN_FILENO);
        dup2(secondary, STDOUT_FILENO);
        close(secondary);
        reader_ = std::thread([fd = primary_] {
            char buffer[65536];
            while (read(fd, buffer, sizeof(buffer)) > 0) {
            }
        });
    }
    ~PseudoTerminal() {
        std::fflush(stdout);
        dup2(savedIn_, STDIN_FILENO);
        dup2(savedOut_, STDOUT_FILENO);
        close(savedIn_);
        close(savedOut_);
        reader_.join();  // its reads fail once nothing has the secondary open
        close(primary_);
    }

  private:
    int primary_ = -1;
    int savedIn_ = -1;
    int savedOut_ = -1;
    std::thread reader_;
};

void runKeys(benchmark::State& state, std::vector<TerminalKey> keys, const char* query) {
    PseudoTerminal pty;
    {
        std::unique_ptr<PickerTerminal> terminal = PickerTerminal::open();
        Picker picker;
        picker.setScan({bench::busyRows(10'000), {}, {}});
        for (const char* c = query; *c != '\0'; ++c) {
            picker.press({false, static_cast<uint8_t>(*c)});
        }
        size_t i = 0;
        for (auto _ : state) {
            picker.press(keys[i++ % keys.size()]);
            picker.setPageHeight(pickerPageHeight(terminal->height()));
            terminal->draw(pickerScreen(picker, terminal->width(), terminal->height()));
        }
        state.counters["shown"] = static_cast<double>(picker.shown().size());
    }
}

// A text query over every row, a character typed and taken back.
void BM_TypeText(benchmark::State& state) {
    runKeys(state, {{false, '1'}, {true, KEY_BACKSPACE}}, "app-");
}
BENCHMARK(BM_TypeText)->Unit(benchmark::kMicrosecond);

// A port range, one key from every row to eighty and back.
void BM_TypePorts(benchmark::State& state) {
    runKeys(state, {{false, '0'}, {true, KEY_BACKSPACE}}, "1024-1103");
}
BENCHMARK(BM_TypePorts)->Unit(benchmark::kMicrosecond);

// The highlight down through every row, the list scrolling under it.
void BM_MoveDown(benchmark::State& state) {
    runKeys(state, {{true, KEY_DOWN}}, "");
}
BENCHMARK(BM_MoveDown)->Unit(benchmark::kMicrosecond);

void BM_PageDown(benchmark::State& state) {
    runKeys(state, {{true, KEY_NPAGE}}, "");
}
BENCHMARK(BM_PageDown)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace halvo

BENCHMARK_MAIN();
