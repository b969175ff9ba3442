#include "kill/kill_batch.h"

#include <gtest/gtest.h>

namespace halvo {
namespace {

PortProcess row(int32_t pid, int64_t port) {
    PortProcess p;
    p.pid = pid;
    p.port = port;
    p.startTime = {1000 + pid, pid};
    p.executableName = "node";
    p.executablePath = "/usr/bin/node";
    p.arguments = {"node"};
    return p;
}

// The one table of the feedback texts users read.
TEST(FeedbackTest, TextsAreTheUsersOwn) {
    EXPECT_EQ(feedbackText(feedback::Success{3000}), "Killed :3000");
    EXPECT_EQ(feedbackText(feedback::Batch{1}), "Killed 1 port");
    EXPECT_EQ(feedbackText(feedback::Batch{3}), "Killed 3 ports");
    EXPECT_EQ(feedbackText(feedback::PartialBatch{1, 1, "Operation not permitted"}),
              "Killed 1, failed 1: Operation not permitted");
    EXPECT_EQ(feedbackText(feedback::Stale{3000}),
              "Process on :3000 changed since last scan \xE2\x80\x94 list refreshed");
    EXPECT_EQ(feedbackText(feedback::Failure{"No process on :8080"}), "No process on :8080");
}

TEST(KillBatchTest, GroupsTargetsByPidInListOrder) {
    std::vector<PortProcess> list{row(812, 3000), row(900, 4000), row(812, 3001), row(77, 5432)};
    auto groups = killGroups(list, {"77-5432", "812-3001", "812-3000", "1-1"});
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].pid, 812);
    EXPECT_EQ(groups[0].startTime, list[0].startTime);
    ASSERT_EQ(groups[0].rows.size(), 2u);
    EXPECT_EQ(groups[0].rows[0].port, 3000);
    EXPECT_EQ(groups[0].rows[1].port, 3001);
    EXPECT_EQ(groups[1].pid, 77);
    EXPECT_TRUE(killGroups(list, {"1-1"}).empty());
}

TEST(KillBatchTest, SingleKillFeedbackFollowsTheOutcome) {
    EXPECT_EQ(singleKillFeedback(3000, KillOutcome::killed()), Feedback{feedback::Success{3000}});
    EXPECT_EQ(singleKillFeedback(3000, KillOutcome::stale()), Feedback{feedback::Stale{3000}});
    EXPECT_EQ(singleKillFeedback(3000, KillOutcome::failed("Operation not permitted")),
              Feedback{feedback::Failure{"Operation not permitted"}});
}

TEST(KillBatchTest, TallyCountsRowsNotProcesses) {
    std::vector<PortProcess> list{row(812, 3000), row(812, 3001), row(77, 5432)};
    auto groups = killGroups(list, {"812-3000", "812-3001", "77-5432"});

    BatchTally allKilled;
    allKilled.record(groups[0], KillOutcome::killed());
    allKilled.record(groups[1], KillOutcome::killed());
    EXPECT_EQ(allKilled.feedback(), Feedback{feedback::Batch{3}});
    EXPECT_FALSE(allKilled.needsReload());

    BatchTally oneRefused;
    oneRefused.record(groups[1], KillOutcome::killed());
    oneRefused.record(groups[0], KillOutcome::failed("Operation not permitted"));
    const Feedback partial = feedback::PartialBatch{1, 2, "Operation not permitted"};
    EXPECT_EQ(oneRefused.feedback(), partial);
}

TEST(KillBatchTest, FailuresReportTheLastMessage) {
    std::vector<PortProcess> list{row(1, 3000), row(2, 3001)};
    auto groups = killGroups(list, {"1-3000", "2-3001"});

    BatchTally allStale;
    allStale.record(groups[0], KillOutcome::stale());
    allStale.record(groups[1], KillOutcome::stale());
    EXPECT_TRUE(allStale.needsReload());
    EXPECT_EQ(allStale.feedback(), Feedback{feedback::Failure{"process changed since last scan"}});

    BatchTally staleThenRefused;
    staleThenRefused.record(groups[0], KillOutcome::stale());
    staleThenRefused.record(groups[1], KillOutcome::failed("Operation not permitted"));
    EXPECT_EQ(staleThenRefused.feedback(), Feedback{feedback::Failure{"Operation not permitted"}});
    EXPECT_EQ(staleThenRefused.failedCount(), 2);

    EXPECT_EQ(BatchTally().feedback(), std::nullopt);
}

}  // namespace
}  // namespace halvo
