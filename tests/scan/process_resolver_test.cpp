#include "scan/process_resolver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_process.h"

namespace halvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Strings = std::vector<std::string>;
using namespace std::literals;

// A PID no process can have: the kernel caps PIDs far below it.
constexpr int32_t kNoSuchPid = INT32_MAX;

// An argument area: argc in host byte order, then `rest` verbatim.
std::string area(int32_t argc, std::string_view rest) {
    std::string bytes(sizeof(argc), '\0');
    std::memcpy(bytes.data(), &argc, sizeof(argc));
    bytes += rest;
    return bytes;
}

std::string canonical(const std::string& path) {
    return std::filesystem::canonical(path).string();
}

TEST(ArgumentAreaTest, MalformedAreasGiveNoArguments) {
    EXPECT_THAT(parseArgumentArea(""), IsEmpty());
    EXPECT_THAT(parseArgumentArea(area(1, "")), IsEmpty());  // 4 bytes
    EXPECT_THAT(parseArgumentArea(area(0, "/bin/node\0node\0"sv)), IsEmpty());
    EXPECT_THAT(parseArgumentArea(area(-2, "/bin/node\0node\0"sv)), IsEmpty());
    // The executable path never ends.
    EXPECT_THAT(parseArgumentArea(area(1, "/bin/node")), IsEmpty());
    // Only padding after the path.
    EXPECT_THAT(parseArgumentArea(area(1, "/bin/node\0\0\0\0"sv)), IsEmpty());
}

TEST(ArgumentAreaTest, ReadsArgcStringsAfterThePathAndItsPadding) {
    EXPECT_THAT(parseArgumentArea(area(3, "/bin/node\0\0\0node\0\0server.js\0"sv)),
                ElementsAre("node", "", "server.js"));
    // Strings after the argc-th are the environment: never read.
    EXPECT_THAT(parseArgumentArea(area(1, "/bin/node\0node\0server.js\0PATH=/bin\0"sv)),
                ElementsAre("node"));
    // An unterminated last string is dropped.
    EXPECT_THAT(parseArgumentArea(area(2, "/bin/node\0node\0server.js"sv)), ElementsAre("node"));
    // An invalid string is left out but still counts towards argc.
    EXPECT_THAT(parseArgumentArea(area(2, "/bin/node\0n\xFFode\0server.js\0HOME=/\0"sv)),
                ElementsAre("server.js"));
    // An argc far beyond the strings present reads what is there.
    EXPECT_THAT(parseArgumentArea(area(INT32_MAX, "/p\0a\0b\0"sv)), ElementsAre("a", "b"));
}

TEST(WorkingDirectoryListingTest, MapsEachProcessBlockToItsName) {
    const auto directories =
        parseWorkingDirectoryListing("p77\nfcwd\nn/Users/a/app\np812\nfcwd\nn/tmp\n");
    EXPECT_EQ(directories.size(), 2u);
    EXPECT_EQ(directories.at(77), "/Users/a/app");
    EXPECT_EQ(directories.at(812), "/tmp");

    // A second name replaces the first; names may hold spaces.
    EXPECT_EQ(parseWorkingDirectoryListing("p5\nn/a\nn/b c\n").at(5), "/b c");
    // A bad or missing PID drops its block only; names before any PID are ignored.
    const auto partial = parseWorkingDirectoryListing("n/orphan\npabc\nn/x\np\nn/y\np+9\nn/z\n");
    EXPECT_EQ(partial.size(), 1u);
    EXPECT_EQ(partial.at(9), "/z");
}

TEST(WorkingDirectoryListingTest, ArgumentsListEachPidOnceAscending) {
    EXPECT_THAT(workingDirectoryListingArguments({812, 77, 812}),
                ElementsAre("-a", "-p", "77,812", "-d", "cwd", "-F", "pn"));
}

TEST(ProcFileTest, StartTicksAreField22EvenWhenTheNameHoldsParentheses) {
    const std::string tail =
        " S 1 2 3 0 -1 4194304 100 0 0 0 5 6 0 0 20 0 1 0 987654 1000 200 ...\n";
    EXPECT_EQ(parseStatStartTicks("42 (node)" + tail), 987654u);
    EXPECT_EQ(parseStatStartTicks("42 (a) b (c))" + tail), 987654u);
    EXPECT_EQ(parseStatStartTicks("42 (x y z)" + tail), 987654u);
    EXPECT_EQ(parseStatStartTicks("42 (node) S 1 2 3\n"), std::nullopt);
    EXPECT_EQ(parseStatStartTicks("42 node S 1 2 3 0 -1 4 1 0 0 0 5 6 0 0 20 0 1 0 9 1 2"),
              std::nullopt);
    // The value is the last field of a stat cut short: the newline is not part of it.
    EXPECT_EQ(parseStatStartTicks("1 (n) S 1 2 3 0 -1 4 1 0 0 0 5 6 0 0 20 0 1 0 77\n"), 77u);
}

TEST(ProcFileTest, EffectiveUidIsTheSecondUidField) {
    EXPECT_EQ(parseStatusEffectiveUid("Name:\tx\nUmask:\t0022\nUid:\t1000\t0\t1000\t1000\n"
                                      "Gid:\t5\t6\t7\t8\n"),
              0u);
    EXPECT_EQ(parseStatusEffectiveUid("Uid:\t4294967294\t4294967294\t0\t0\n"), 4294967294u);
    EXPECT_EQ(parseStatusEffectiveUid("Gid:\t1\t2\t3\t4\n"), std::nullopt);
    EXPECT_EQ(parseStatusEffectiveUid("Uid:\t1000\n"), std::nullopt);
    EXPECT_EQ(parseStatusEffectiveUid("Uid:\t1\t-2\t1\t1\n"), std::nullopt);
}

TEST(ProcFileTest, TicksBecomeSecondsAndMicrosecondsAfterBoot) {
    EXPECT_EQ(startTimeFromTicks(1'700'000'000, 12'345, 100),
              (ProcessStartTime{1'700'000'123, 450'000}));
    EXPECT_EQ(startTimeFromTicks(1'700'000'000, 0, 100), (ProcessStartTime{1'700'000'000, 0}));
    EXPECT_EQ(startTimeFromTicks(10, 1'999, 1'000), (ProcessStartTime{11, 999'000}));
}

// A stand-in for /proc, for contents a real process cannot easily be made to show.
class FakeProcTest : public ::testing::Test {
  protected:
    void writeProc(int32_t pid, const std::string& name, std::string_view bytes) {
        dir_.writeFile(std::to_string(pid) + "/" + name, std::string(bytes));
    }
    void linkProc(int32_t pid, const std::string& name, const std::string& target) {
        std::filesystem::create_directories(dir_.path() + "/" + std::to_string(pid));
        std::filesystem::create_symlink(target,
                                        dir_.path() + "/" + std::to_string(pid) + "/" + name);
    }
    Strings arguments(std::string_view cmdline) {
        writeProc(7, "cmdline", cmdline);
        return ProcessResolver(dir_.path()).readArguments(7);
    }

    testing::TempDir dir_;
};

TEST_F(FakeProcTest, CommandLineSplitsAtNulsAndKeepsAnUnterminatedTail) {
    EXPECT_THAT(arguments("node\0\0server.js\0"sv), ElementsAre("node", "", "server.js"));
    // A rewritten title may lack its final NUL, or be padded with them.
    EXPECT_THAT(arguments("redis-server *:6379"sv), ElementsAre("redis-server *:6379"));
    EXPECT_THAT(arguments("nginx: master\0\0\0\0\0\0"sv), ElementsAre("nginx: master"));
    EXPECT_THAT(arguments("a\0b"sv), ElementsAre("a", "b"));
    EXPECT_THAT(arguments("n\xC3\0ok\0\xFF"sv), ElementsAre("ok"));
    EXPECT_THAT(arguments(""), IsEmpty());                                  // kernel threads
    EXPECT_THAT(ProcessResolver(dir_.path()).readArguments(8), IsEmpty());  // unreadable
}

TEST_F(FakeProcTest, ExecutablePathLosesTheDeletedMarkAndRepairsItsBytes) {
    linkProc(7, "exe", "/opt/app/server (deleted)");
    linkProc(8, "exe", "/opt/caf\xE9/server");
    const ProcessResolver resolver(dir_.path());
    EXPECT_EQ(resolver.readExecutablePath(7), "/opt/app/server");
    EXPECT_EQ(resolver.readExecutablePath(8), "/opt/caf\xEF\xBF\xBD/server");
    EXPECT_EQ(resolver.readExecutablePath(9), "");
    EXPECT_EQ(resolver.readExecutablePath(0), "");
    EXPECT_EQ(resolver.readExecutablePath(-1), "");
}

TEST_F(FakeProcTest, SnapshotComesFromStatusAndStatWithOneBootTime) {
    writeProc(7, "status", "Name:\tnode\nUid:\t1000\t1001\t1000\t1000\n");
    writeProc(7, "stat", "7 (no de) S 1 2 3 0 -1 4 1 0 0 0 5 6 0 0 20 0 1 0 250 1 2\n");
    writeProc(8, "status", "Name:\tnode\n");  // no Uid line
    writeProc(8, "stat", "8 (n) S 1 2 3 0 -1 4 1 0 0 0 5 6 0 0 20 0 1 0 250 1 2\n");
    writeProc(9, "status", "Uid:\t1\t1\t1\t1\n");  // no stat at all

    std::ifstream stat("/proc/stat");
    std::string word;
    int64_t bootTime = -1;
    while (stat >> word) {
        if (word == "btime") {
            stat >> bootTime;
        }
    }
    ProcessResolver resolver(dir_.path());
    const auto snapshot = resolver.identitySnapshot(7);
    ASSERT_TRUE(snapshot.has_value());
    EXPECT_EQ(snapshot->uid, 1001u);
    EXPECT_EQ(snapshot->startTime, startTimeFromTicks(bootTime, 250, sysconf(_SC_CLK_TCK)));
    EXPECT_EQ(resolver.identitySnapshot(8), std::nullopt);
    EXPECT_EQ(resolver.identitySnapshot(9), std::nullopt);
    EXPECT_EQ(resolver.identitySnapshot(10), std::nullopt);
}

TEST_F(FakeProcTest, ReadableWorkingDirectoriesNeedNoLsof) {
    linkProc(7, "cwd", "/home/ana/shop");
    linkProc(8, "cwd", "/home/ana/old (deleted)");
    const auto directories = ProcessResolver(dir_.path()).readWorkingDirectories({8, 7, 7});
    EXPECT_EQ(directories.size(), 2u);
    EXPECT_EQ(directories.at(7), "/home/ana/shop");
    EXPECT_EQ(directories.at(8), "/home/ana/old (deleted)");
}

// The test listener, started in a folder of its own with hostile arguments.
class RealProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        workDir_ = canonical(dir_.makeDir("Users/ana/shop"));
        testing::ListenerOptions options;
        options.listenerArgs = {"--v4", "1"};
        options.extraArgs = extraArgs_;
        options.workingDirectory = workDir_;
        listener_ = testing::ListenerProcess::start(options);
    }

    static int64_t nowSeconds() {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }

    testing::TempDir dir_;
    std::string workDir_;
    const std::string big_ = std::string(100 * 1024, 'x') + "end";
    const Strings extraArgs_{"next",    "dev", "two\nlines", "\x1b[31mred\x1b[0m",
                             "bad\xFF", "",    big_};
    std::unique_ptr<testing::ListenerProcess> listener_;
};

TEST_F(RealProcessTest, SnapshotIsOursAndStable) {
    ProcessResolver resolver;
    const auto first = resolver.identitySnapshot(listener_->pid());
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->uid, getuid());
    EXPECT_NEAR(static_cast<double>(first->startTime.seconds), static_cast<double>(nowSeconds()),
                5.0);
    EXPECT_GE(first->startTime.microseconds, 0);
    EXPECT_LT(first->startTime.microseconds, 1'000'000);
    EXPECT_EQ(resolver.identitySnapshot(listener_->pid()), first);
    EXPECT_EQ(ProcessResolver().identitySnapshot(listener_->pid()), first);
    EXPECT_EQ(currentStartTime(listener_->pid()), first->startTime);

    // Our own process started before the listener.
    const auto self = resolver.identitySnapshot(getpid());
    ASSERT_TRUE(self.has_value());
    EXPECT_LE(self->startTime.seconds, first->startTime.seconds);

    const pid_t gone = listener_->pid();
    ASSERT_TRUE(listener_->stop());
    EXPECT_EQ(resolver.identitySnapshot(gone), std::nullopt);
    EXPECT_EQ(currentStartTime(gone), std::nullopt);
}

TEST_F(RealProcessTest, MetadataReadsPathArgumentsAndDirectoryVerbatim) {
    ProcessResolver resolver;
    const auto all = resolver.metadata({listener_->pid(), kNoSuchPid, listener_->pid()});
    ASSERT_EQ(all.size(), 2u);
    const ProcessMetadata& listener = all.at(listener_->pid());
    EXPECT_EQ(listener.executablePath, canonical(testing::listenerPath()));
    // The invalid argument is left out; the 100 KB one comes back whole.
    EXPECT_THAT(listener.arguments,
                ElementsAre(testing::listenerPath(), "--v4", "1", "--", "next", "dev", "two\nlines",
                            "\x1b[31mred\x1b[0m", "", big_));
    EXPECT_EQ(listener.workingDirectory, workDir_);

    EXPECT_EQ(all.at(kNoSuchPid), ProcessMetadata{});
    EXPECT_EQ(resolver.identitySnapshot(kNoSuchPid), std::nullopt);
    EXPECT_THAT(resolver.metadata({}), IsEmpty());
}

TEST_F(RealProcessTest, UnreadableProcFallsBackToOneLsofListing) {
    testing::TempDir empty;
    ProcessResolver resolver(empty.path());
    EXPECT_EQ(resolver.identitySnapshot(listener_->pid()), std::nullopt);

    const auto all = resolver.metadata({listener_->pid()});
    ASSERT_EQ(all.size(), 1u);
    const ProcessMetadata& listener = all.at(listener_->pid());
    EXPECT_EQ(listener.executablePath, "");
    EXPECT_THAT(listener.arguments, IsEmpty());
    EXPECT_EQ(listener.workingDirectory, workDir_);

    // PIDs that cannot exist are not passed on to spoil the listing.
    const auto withBadPids = resolver.readWorkingDirectories({-1, 0, listener_->pid()});
    EXPECT_EQ(withBadPids.size(), 1u);
    EXPECT_EQ(withBadPids.at(listener_->pid()), workDir_);

    // lsof fails when asked about a PID that does not exist; then nothing
    // counts, not even the directories it did list.
    EXPECT_THAT(resolver.readWorkingDirectories({listener_->pid(), kNoSuchPid}), IsEmpty());
    EXPECT_THAT(resolver.readWorkingDirectories({}), IsEmpty());
}

}  // namespace
}  // namespace halvo
