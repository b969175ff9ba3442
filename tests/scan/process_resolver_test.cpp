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

TEST(WorkingDirectoryListingTest, MapsEachProcessBlockToItsName) {
    EXPECT_EQ(parseWorkingDirectoryListing("p77\nfcwd\nn/Users/a/app\np812\nfcwd\nn/tmp\n"),
              (Directories{{77, "/Users/a/app"}, {812, "/tmp"}}));
    // A second name replaces the first; names may hold spaces.
    EXPECT_EQ(parseWorkingDirectoryListing("p5\nn/a\nn/b c\n"), (Directories{{5, "/b c"}}));
    // A bad or missing PID drops its block only; names before any PID are ignored.
    EXPECT_EQ(parseWorkingDirectoryListing("n/orphan\npabc\nn/x\np\nn/y\np+9\nn/z\n"),
              (Directories{{9, "/z"}}));
    EXPECT_THAT(workingDirectoryListingArguments({812, 77, 812}),
                ElementsAre("-a", "-p", "77,812", "-d", "cwd", "-F", "pn"));
}

TEST(ProcFileTest, StartTicksUidAndStartTime) {
    const std::string tail =
        " S 1 2 3 0 -1 4194304 100 0 0 0 5 6 0 0 20 0 1 0 987654 1000 200 ...\n";
    EXPECT_EQ(parseStatStartTicks("42 (a) b (c))" + tail), 987654u);
    EXPECT_EQ(parseStatStartTicks("42 (node) S 1 2 3\n"), std::nullopt);
    // The last field of a stat cut short: the newline is not part of it.
    EXPECT_EQ(parseStatStartTicks("1 (n) S 1 2 3 0 -1 4 1 0 0 0 5 6 0 0 20 0 1 0 77\n"), 77u);

    // The effective uid is the second field.
    EXPECT_EQ(parseStatusEffectiveUid("Uid:\t0\t4294967294\t0\t0\n"), 4294967294u);
    EXPECT_EQ(parseStatusEffectiveUid("Uid:\t1000\n"), std::nullopt);

    EXPECT_EQ(startTimeFromTicks(1'700'000'000, 12'345, 100),
              (ProcessStartTime{1'700'000'123, 450'000}));
    EXPECT_EQ(startTimeFromTicks(10, 1'999, 1'000), (ProcessStartTime{11, 999'000}));
}

// A stand-in for /proc, for contents a real process cannot easily be made to show.
class FakeProcTest : public ::testing::Test {
  protected:
    void writeProc(int32_t pid, const std::string& name, std::string_view bytes) {
        dir_.writeFile(std::to_string(pid) + "/" + name, std::string(bytes));
    }
    void linkProc(int32_t pid, const std::string& name, const std::string& target) {
        const std::string folder = dir_.makeDir(std::to_string(pid));
        std::filesystem::create_symlink(target, folder + "/" + name);
    }

    testing::TempDir dir_;
    ProcessResolver resolver_{dir_.path()};
};

TEST_F(FakeProcTest, CommandLineSplitsAtNulsAndKeepsAnUnterminatedTail) {
    const std::vector<std::pair<std::string_view, Strings>> cases = {
        // A rewritten title may lack its final NUL, or be padded with them.
        {"redis-server *:6379"sv, {"redis-server *:6379"}},
        {"nginx: master\0\0\0\0\0\0"sv, {"nginx: master"}},
        {"n\xC3\0ok\0\xFF"sv, {"n\uFFFD", "ok", "\uFFFD"}},  // repaired, never dropped
        {"", {}},                                            // kernel threads
    };
    for (const auto& [cmdline, expected] : cases) {
        SCOPED_TRACE(std::string(cmdline));
        writeProc(7, "cmdline", cmdline);
        EXPECT_EQ(resolver_.readArguments(7), expected);
    }
    EXPECT_THAT(resolver_.readArguments(8), IsEmpty());  // unreadable
}

TEST_F(FakeProcTest, LinksAreReadWithoutLsof) {
    linkProc(7, "exe", "/opt/app/server (deleted)");
    linkProc(8, "exe", "/opt/caf\xE9/server");
    EXPECT_EQ(resolver_.readExecutablePath(7), "/opt/app/server");
    EXPECT_EQ(resolver_.readExecutablePath(8), "/opt/caf\xEF\xBF\xBD/server");
    EXPECT_EQ(resolver_.readExecutablePath(9), "");

    // A removed working directory loses the mark as well.
    linkProc(7, "cwd", "/home/ana/shop");
    linkProc(8, "cwd", "/home/ana/old (deleted)");
    EXPECT_EQ(resolver_.readWorkingDirectories({8, 7, 7}),
              (Directories{{7, "/home/ana/shop"}, {8, "/home/ana/old"}}));
}

TEST_F(FakeProcTest, SnapshotTakesTheEffectiveUidAndNeedsIt) {
    std::ifstream self("/proc/self/stat");
    const std::string stat((std::istreambuf_iterator<char>(self)), {});
    writeProc(7, "status", "Name:\tnode\nUid:\t1000\t1001\t1000\t1000\n");
    writeProc(7, "stat", stat);
    writeProc(8, "status", "Name:\tnode\n");  // no Uid line: no owner to trust
    writeProc(8, "stat", stat);
    EXPECT_EQ(resolver_.identitySnapshot(7),
              (ProcessIdentitySnapshot{1001, currentStartTime(getpid()).value()}));
    EXPECT_EQ(resolver_.identitySnapshot(8), std::nullopt);
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
