#include "scan/process_resolver.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Strings = std::vector<std::string>;
using Directories = std::unordered_map<int32_t, std::string>;
using namespace std::literals;

// A PID no process can have: the kernel caps PIDs far below it.
constexpr int32_t kNoSuchPid = INT32_MAX;

std::string canonical(const std::string& path) {
    return std::filesystem::canonical(path).string();
}

// While it lives, this thread lacks the capabilities that let root read any
// folder, so that a folder without permissions refuses it as it would refuse a
// user. They stay permitted and come back at the end; programs started
// meanwhile by root get them back anyway.
class WithoutReadOverride final {
  public:
    WithoutReadOverride() {
        if (syscall(SYS_capget, &header_, saved_) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        for (const unsigned cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        }
        restore_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutReadOverride() {
        if (restore_) {
            syscall(SYS_capset, &header_, saved_);
        }
    }
    WithoutReadOverride(const WithoutReadOverride&) = delete;
    WithoutReadOverride& operator=(const WithoutReadOverride&) = delete;

  private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
    bool restore_ = false;
};

// lsof's answer for the working directories /proc refuses, and the start
// time after a name that may hold anything.
TEST(ProcFileTest, WorkingDirectoryListingAndStartTicks) {
    // A second name replaces the first; names may hold spaces. A bad or
    // missing PID drops its block only; names before any PID are ignored.
    EXPECT_EQ(parseWorkingDirectoryListing("n/orphan\np77\nfcwd\nn/a\nn/b c\npabc\nn/x\np\n"
                                           "n/y\np+9\nn/z\n"),
              (Directories{{77, "/b c"}, {9, "/z"}}));
    EXPECT_EQ(parseStatStartTicks("42 (a) b (c)) S 1 2 3 0 -1 4194304 100 0 0 0 5 6 0 0 20 0 1 0 "
                                  "987654 1000 200 ...\n"),
              987654u);
    EXPECT_EQ(parseStatStartTicks("42 (node) S 1 2 3\n"), std::nullopt);
}

// A stand-in for /proc, for contents a real process cannot easily be made to show.
TEST(FakeProcTest, ArgumentsLinksAndOwnerAsProcHasThem) {
    testing::TempDir proc;
    ProcessResolver resolver(proc.path());
    const std::vector<std::pair<std::string_view, Strings>> cases = {
        // A rewritten title may lack its final NUL, or be padded with them.
        {"redis-server *:6379"sv, {"redis-server *:6379"}},
        {"nginx: master\0\0\0\0\0\0"sv, {"nginx: master"}},
        {"n\xC3\0ok\0\xFF"sv, {"n\uFFFD", "ok", "\uFFFD"}},  // repaired, never dropped
        {"", {}},                                            // kernel threads
    };
    for (const auto& [cmdline, expected] : cases) {
        proc.writeFile("7/cmdline", std::string(cmdline));
        EXPECT_EQ(resolver.readArguments(7), expected) << cmdline;
    }
    EXPECT_THAT(resolver.readArguments(8), IsEmpty());  // unreadable

    // A removed executable or working directory loses its mark.
    std::filesystem::create_symlink("/opt/caf\xE9/server (deleted)", proc.path() + "/7/exe");
    std::filesystem::create_symlink("/home/ana/old (deleted)", proc.path() + "/7/cwd");
    EXPECT_EQ(resolver.readExecutablePath(7), "/opt/caf\xEF\xBF\xBD/server");
    EXPECT_EQ(resolver.readExecutablePath(8), "");
    EXPECT_EQ(resolver.readWorkingDirectories({7, 7}), (Directories{{7, "/home/ana/old"}}));

    // The owner is the effective uid; with no Uid line there is none to trust.
    std::ifstream self("/proc/self/stat");
    const std::string stat((std::istreambuf_iterator<char>(self)), {});
    proc.writeFile("7/status", "Name:\tnode\nUid:\t1000\t1001\t1000\t1000\n");
    proc.writeFile("7/stat", stat);
    proc.writeFile("8/status", "Name:\tnode\n");
    proc.writeFile("8/stat", stat);
    EXPECT_EQ(resolver.identitySnapshot(7),
              (ProcessIdentitySnapshot{1001, currentStartTime(getpid()).value()}));
    EXPECT_EQ(resolver.identitySnapshot(8), std::nullopt);
}

// The test listener, started in a folder of its own with hostile arguments.
class RealProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::ListenerOptions options;
        options.listenerArgs = {"--v4", "1"};
        options.extraArgs = {"next",    "dev", "two\nlines", "\x1b[31mred\x1b[0m",
                             "bad\xFF", "",    big_};
        options.workingDirectory = workDir_;
        listener_ = testing::ListenerProcess::start(options);
    }

    testing::TempDir dir_;
    const std::string workDir_ = canonical(dir_.makeDir("Users/ana/shop"));
    const std::string big_ = std::string(100 * 1024, 'x') + "end";
    std::unique_ptr<testing::ListenerProcess> listener_;
};

TEST_F(RealProcessTest, ReadsMetadataVerbatimAndAStableSnapshot) {
    ProcessResolver resolver;
    const auto all = resolver.metadata({listener_->pid(), kNoSuchPid, listener_->pid()});
    ASSERT_EQ(all.size(), 2u);
    const ProcessMetadata& listener = all.at(listener_->pid());
    EXPECT_EQ(listener.executablePath, canonical(testing::listenerPath()));
    // The invalid argument is repaired; the 100 KB one comes back whole.
    EXPECT_THAT(listener.arguments,
                ElementsAre(testing::listenerPath(), "--v4", "1", "--", "next", "dev", "two\nlines",
                            "\x1b[31mred\x1b[0m", "bad\uFFFD", "", big_));
    EXPECT_EQ(listener.workingDirectory, workDir_);
    EXPECT_EQ(all.at(kNoSuchPid), ProcessMetadata{});

    const auto first = resolver.identitySnapshot(listener_->pid());
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->uid, getuid());
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    EXPECT_NEAR(first->startTime.seconds,
                std::chrono::duration_cast<std::chrono::seconds>(now).count(), 5);
    EXPECT_EQ(currentStartTime(listener_->pid()), first->startTime);
    // The scan's clock runs on the same time base: the listener started before now.
    EXPECT_LE(first->startTime, processClockNow());

    const pid_t gone = listener_->pid();
    ASSERT_TRUE(listener_->stop());
    EXPECT_EQ(resolver.identitySnapshot(gone), std::nullopt);
    EXPECT_EQ(currentStartTime(gone), std::nullopt);
}

TEST_F(RealProcessTest, OnlyWhatProcRefusesIsAskedOfLsof) {
    // The listener's entry refuses us; every other PID has none, as if gone.
    testing::TempDir root;
    const std::string refused = root.makeDir(std::to_string(listener_->pid()));
    ASSERT_EQ(chmod(refused.c_str(), 0), 0);
    const WithoutReadOverride refusing;
    const int probe = open(refused.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int probeError = errno;
    if (probe >= 0) {
        close(probe);
    }
    ASSERT_EQ(probeError, EACCES) << "the entry could not be made to refuse";
    ProcessResolver resolver(root.path());

    EXPECT_EQ(resolver.identitySnapshot(listener_->pid()), std::nullopt);
    EXPECT_EQ(resolver.metadata({listener_->pid()}),
              (std::unordered_map<int32_t, ProcessMetadata>{
                  {listener_->pid(), ProcessMetadata{"", {}, workDir_}}}));
    // lsof fails its whole listing over one PID it cannot find: PIDs that are
    // gone or cannot exist must not reach it.
    EXPECT_EQ(resolver.readWorkingDirectories({-1, 0, kNoSuchPid, listener_->pid()}),
              (Directories{{listener_->pid(), workDir_}}));
    // Had lsof been asked about a PID missing from /proc, the real process
    // with that PID would have answered.
    testing::TempDir empty;
    EXPECT_THAT(ProcessResolver(empty.path()).readWorkingDirectories({listener_->pid()}),
                IsEmpty());

    // A removed working directory, through lsof and through /proc.
    std::filesystem::remove(workDir_);
    EXPECT_EQ(resolver.readWorkingDirectories({listener_->pid()}),
              (Directories{{listener_->pid(), workDir_}}));
    EXPECT_EQ(ProcessResolver().readWorkingDirectories({listener_->pid()}),
              (Directories{{listener_->pid(), workDir_}}));
}

}  // namespace
}  // namespace halvo
