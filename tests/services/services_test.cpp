// The application services offscreen: update checks against a feed server
// the test runs on the loopback, and the about, support, update and welcome
// windows.
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "appkit/diagnostics.h"
#include "appkit/first_run_guard.h"
#include "services/about_support_windows.h"
#include "services/app_services.h"
#include "services/first_run_onboarding.h"
#include "services/update_scheduler.h"
#include "support/feed_server.h"
#include "support/test_process.h"
#include "ui/window_presenter.h"

namespace halvo {

// Records the https and mailto URLs the application asks the desktop to open.
class OpenedUrls final : public QObject {
    Q_OBJECT
  public:
    OpenedUrls() {
        for (const char* scheme : {"https", "mailto"}) {
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
        }
    }
    ~OpenedUrls() override {
        for (const char* scheme : {"https", "mailto"}) {
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        }
    }
    QList<QUrl> urls;

  public slots:
    void open(const QUrl& url) { urls.append(url); }
};

namespace {

const QByteArray kRunning = QByteArray::fromStdString(*buildVersion());

// The feed every check here reads: `response` to GET /appcast.xml, or no
// answer at all.
void serveFeed(FeedServer& server, const QByteArray& response) {
    if (!response.isEmpty()) {
        server.respond(QStringLiteral("/appcast.xml"), response);
    }
    qputenv("HALVO_UPDATE_FEED_URL", server.url(QStringLiteral("/appcast.xml")).toEncoded());
}

QByteArray ok(const QByteArray& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// One item, with its release notes.
QByteArray item(const QByteArray& version) {
    return "<item><sparkle:version>" + version +
           "</sparkle:version><sparkle:releaseNotesLink>https://tavlabs.com/changelog/halvo#" +
           version + "</sparkle:releaseNotesLink></item>";
}

QByteArray feed(const QByteArray& items) {
    return "<?xml version='1.0'?><rss version='2.0' "
           "xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel>" +
           items + "</channel></rss>";
}

const UpdateCheckTiming kQuick{.firstBackgroundCheck = std::chrono::milliseconds(50),
                               .fetch = {.timeout = std::chrono::milliseconds(1000)}};

QPushButton* button(QWidget* window, const QString& text) {
    for (QPushButton* candidate : window->findChildren<QPushButton*>()) {
        if (candidate->text() == text) {
            return candidate;
        }
    }
    return nullptr;
}

}  // namespace

class ServicesTest final : public QObject {
    Q_OBJECT
  private slots:
    void userCheckEnds_data() {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QString>("expected");  // the status line
        QTest::newRow("newer") << ok(feed(item("0.0.1") + item("9.1") + item("9.9.9")))
                               << "Update available (9.9.9)";
        QTest::newRow("newer, as attributes")
            << ok(feed("<item><enclosure sparkle:version='9.9.8'/></item>"))
            << "Update available (9.9.8)";
        QTest::newRow("beta with prereleases off")
            << ok(feed("<item><sparkle:channel>beta</sparkle:channel><sparkle:version>9.9.9"
                       "</sparkle:version></item>" +
                       item(kRunning)))
            << "Up to date";
        QTest::newRow("malformed") << ok("<rss><channel><item></channel>")
                                   << "Update check failed: the feed is not well-formed XML";
        QTest::newRow("dtd")
            << ok(feed(item("&v;")).replace("<rss", "<!DOCTYPE rss [<!ENTITY v '9.9.9'>]><rss"))
            << "Update check failed: the feed declares a DTD";
        QTest::newRow("10 MB") << "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(10 << 20, 'x')
                               << "Update check failed: the feed is larger than 1024 KB";
        QTest::newRow("never answers")
            << QByteArray() << "Update check failed: the feed did not answer within 1 s";
        QTest::newRow("redirect to http")
            << QByteArray(
                   "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:9/feed\r\n"
                   "Content-Length: 0\r\n\r\n")
            << "Update check failed: the feed redirected to http://127.0.0.1:9/feed, which "
               "does not use https";
    }

    void userCheckEnds() {
        QFETCH(QByteArray, response);
        QFETCH(QString, expected);
        FeedServer server;
        serveFeed(server, response);
        InMemoryDefaultsStore defaults;
        TAVUpdateConfig config = halvoUpdateConfig();
        config.automaticallyChecksForUpdates = false;
        TAVUpdateScheduler scheduler(config, defaults, kQuick);
        QSignalSpy finished(&scheduler, &TAVUpdateScheduler::userCheckFinished);
        scheduler.checkForUpdates();
        QVERIFY(!scheduler.canCheckForUpdates());
        QVERIFY(finished.wait(5000));
        QVERIFY(scheduler.canCheckForUpdates());
        const QString line = QString::fromStdString(scheduler.state().statusLine());
        QVERIFY2(line.startsWith(expected), qPrintable(line));
        QCOMPARE(scheduler.pendingUpdateVersion().has_value(),
                 expected.startsWith("Update available"));
        QVERIFY(defaults.values.contains("tavlabs.halvo.lastUpdateCheck"));
    }

    void feedOverrideIsHttpsOrLoopback() {
        const QString configured = QStringLiteral("https://tavlabs.com/halvo/appcast.xml");
        for (const char* url : {"https://mirror.example/a.xml", "http://[::1]:8080/a.xml"}) {
            QCOMPARE(effectiveFeedURL(configured, url), QUrl(url));
        }
        for (const char* url : {"http://mirror.example/a.xml", "file:///etc/passwd"}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("HALVO_UPDATE_FEED_URL"));
            QCOMPARE(effectiveFeedURL(configured, url), QUrl(configured));
        }
    }

    // A background check is due a day after the last one, and finds an update
    // gently: the state stays as it was, and the next check is a day away.
    void backgroundCheckIsDueOnceAnIntervalPassed() {
        FeedServer server;
        serveFeed(server, ok(feed(item("9.9.9"))));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const auto& [hoursAgo, nextInHours] : {std::pair{1, 23}, std::pair{25, 24}}) {
            InMemoryDefaultsStore defaults;
            defaults.values["tavlabs.halvo.lastUpdateCheck"] =
                now.addSecs(-hoursAgo * 3600).toString(Qt::ISODateWithMs).toStdString();
            TAVUpdateScheduler scheduler(halvoUpdateConfig(), defaults, kQuick);
            scheduler.start();
            QTRY_COMPARE_WITH_TIMEOUT(scheduler.pendingUpdateVersion().has_value(), hoursAgo > 24,
                                      5000);
            QCOMPARE(scheduler.state().kind, TAVUpdateState::Kind::idle);
            QVERIFY(qAbs(scheduler.nextBackgroundCheck()->secsTo(now.addSecs(nextInHours * 3600))) <
                    60);
        }
    }

    void foundUpdateIsShownOnceOpened() {
        FeedServer server;
        serveFeed(server, ok(feed(item("9.9.9"))));
        InMemoryDefaultsStore defaults;
        ui::TAVSatelliteWindowPresenter presenter;
        OpenedUrls opened;
        std::unique_ptr<AppServices> services =
            AppServices::create(defaults, presenter, halvoUpdateConfig, kQuick);
        QSignalSpy pending(services.get(), &AppServices::pendingUpdateVersionChanged);
        QVERIFY(pending.wait(5000));
        QCOMPARE(services->pendingUpdateVersion(), std::optional(QStringLiteral("9.9.9")));
        services->installPendingUpdate();
        button(presenter.window(QStringLiteral("update-check")), QStringLiteral("Install"))
            ->click();
        QCOMPARE(opened.urls, QList<QUrl>{QUrl("https://tavlabs.com/changelog/halvo#9.9.9")});
        QCOMPARE(services->pendingUpdateVersion(), std::nullopt);
        QCOMPARE(pending.count(), 2);
    }

    // The about window copies its report, and confirms it one at a time for a
    // moment; the support window opens its links.
    void aboutCopiesItsReportAndSupportOpensItsLinks() {
        ui::TAVSatelliteWindowPresenter presenter;
        const auto diagnostics =
            TAVAppDiagnostics::current(appIdentity(), std::nullopt, "https://a.b");
        const QString report = QString::fromStdString(TAVDiagnosticInfoBuilder::build(diagnostics));
        testing::TempDir data;  // the icon as the package installs it
        const QString apps = QString::fromStdString(data.makeDir("icons/hicolor/scalable/apps"));
        QFile::copy(HALVO_DIST_ICONS "/com.tavlabs.halvo.svg", apps + "/com.tavlabs.halvo.svg");
        qputenv("XDG_DATA_HOME", data.path().c_str());
        QWidget* about = openAbout(presenter, appIdentity(), diagnostics);
        const QLabel* icon = about->findChild<QLabel*>("appIcon");
        QVERIFY(icon && !icon->pixmap().isNull());
        QCOMPARE(about->findChild<QPlainTextEdit*>("diagnostics")->toPlainText(), report);
        button(about, QStringLiteral("Copy Diagnostic Info"))->click();
        const QPointer<QWidget> first = presenter.hudWindow();
        button(about, QStringLiteral("Copy Diagnostic Info"))->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), report);
        QVERIFY((first.isNull() || first->isHidden()) && presenter.hudWindow()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!presenter.hudWindow(),
                                 ui::TAVSatelliteWindowPresenter::kHudMilliseconds * 3);

        OpenedUrls opened;
        QWidget* support = openSupport(presenter, appIdentity(), diagnostics);
        for (const char* title : {"Contact", "Terms"}) {
            button(support, QString::fromLatin1(title))->click();
        }
        QCOMPARE(opened.urls, (QList<QUrl>{QUrl("mailto:support@tavlabs.com"),
                                           QUrl("https://tavlabs.com/terms")}));
        about->close();
        support->close();
    }

    // The welcome window shows a failed login change and keeps the switch, and
    // the hotkey's highlight as the hotkey's status changes; its primary action
    // dismisses it for good and runs.
    void welcomeWindow() {
        testing::TempDir dir;
        // Under a regular file no entry can be written, whoever runs the test.
        const std::string blocker = dir.writeFile("not-a-folder", "");
        InMemoryDefaultsStore defaults;
        int opened = 0;
        QWidget* window = TAVFirstRunOnboarding::presentIfNeeded(
            {.slug = "halvo",
             .displayName = "Halvo",
             .primaryActionLabel = QStringLiteral("Open kill panel"),
             .highlights = halvoHighlights(false),
             .onPrimaryAction = [&] { ++opened; }},
            defaults, TAVLaunchAtLoginToggle(blocker + "/autostart/halvo.desktop", "/bin/true"),
            ui::TAVSatelliteWindowPresenter::shared());
        QCheckBox* login = window->findChild<QCheckBox*>();
        login->click();
        QVERIFY(login->isChecked());
        const auto shown = [window](const QString& text) {
            const auto labels = window->findChildren<QLabel*>();
            return std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
                return !label->isHidden() && label->text().contains(text);
            });
        };
        QVERIFY(shown(QString::fromUtf8(kLaunchAtLoginFailureMessage)));
        QVERIFY(shown("`halvo --panel`") && !shown("Press Shift+Super+K"));
        window->findChild<TAVFirstRunOnboardingView*>()->setHighlights(halvoHighlights(true));
        QVERIFY(!shown("`halvo --panel`") && shown("Press Shift+Super+K"));
        button(window, QStringLiteral("Open kill panel"))->click();
        QCOMPARE(opened, 1);
        QCOMPARE(ui::TAVSatelliteWindowPresenter::shared().window("tavlabs.halvo.first-run"),
                 nullptr);
        QVERIFY(!TAVFirstRunGuard::shouldShow("halvo", defaults));
    }
};

}  // namespace halvo

QTEST_MAIN(halvo::ServicesTest)
#include "services_test.moc"
