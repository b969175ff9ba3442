// The welcome window's choices and its launch-at-login switch, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <map>

#include "appkit/first_run_guard.h"
#include "services/first_run_onboarding.h"
#include "support/test_process.h"
#include "ui/window_presenter.h"

namespace halvo {
namespace {

TEST(FirstRunOnboarding, ShownOnceThePrimaryActionDismissesAndRuns) {
    InMemoryDefaultsStore defaults;
    auto& presenter = ui::TAVSatelliteWindowPresenter::shared();
    int opened = 0;
    const auto present = [&] {
        TAVFirstRunOnboarding config;
        config.slug = "halvo";
        config.displayName = "Halvo";
        config.primaryActionLabel = QStringLiteral("Open kill panel");
        config.highlights = halvoHighlights();
        config.onPrimaryAction = [&] { ++opened; };
        return TAVFirstRunOnboarding::presentIfNeeded(
            std::move(config), defaults, TAVLaunchAtLoginToggle("", "/bin/true"), presenter);
    };
    QWidget* window = present();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(480, 560));
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (button->text() == "Open kill panel") {
            button->click();
        }
    }
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(presenter.window("tavlabs.halvo.first-run"), nullptr);
    EXPECT_FALSE(TAVFirstRunGuard::shouldShow("halvo", defaults));
    EXPECT_EQ(present(), nullptr);
}

TEST(FirstRunOnboarding, AFailedLoginChangeSaysSoAndKeepsTheSwitch) {
    testing::TempDir dir;
    // Under a regular file no entry can be written, whoever runs the test.
    const std::string blocker = dir.writeFile("not-a-folder", "");
    TAVFirstRunOnboarding config;
    config.displayName = "Halvo";
    TAVFirstRunOnboardingView view(
        config, TAVLaunchAtLoginToggle(blocker + "/autostart/halvo.desktop", "/bin/true"), [] {});
    QCheckBox* login = view.findChild<QCheckBox*>();
    ASSERT_NE(login, nullptr);
    EXPECT_EQ(login->text(), "Open Halvo at login");
    login->click();
    EXPECT_TRUE(login->isChecked());
    const auto labels = view.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
        return !label->isHidden() &&
               label->text() == QString::fromUtf8(kLaunchAtLoginFailureMessage.data(),
                                                  kLaunchAtLoginFailureMessage.size());
    }));
}

}  // namespace
}  // namespace halvo

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
