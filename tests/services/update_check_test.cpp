// Update checks against a feed server the test runs on the loopback.
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "appkit/diagnostics.h"
#include "feed_server.h"
#include "services/app_services.h"
#include "services/update_scheduler.h"
#include "test_doubles.h"
#include "ui/window_presenter.h"

namespace halvo {

namespace {

const QByteArray kRunning = QByteArray::fromStdString(*buildVersion());

// One item whose versions are elements, or attributes of its enclosure.
QByteArray item(const QByteArray& version, bool asAttributes = false,
                const QByteArray& channel = {}) {
    const QByteArray channelElement =
        channel.isEmpty() ? QByteArray() : "<sparkle:channel>" + channel + "</sparkle:channel>";
    if (asAttributes) {
        return "<item>" + channelElement +
               "<enclosure url='https://dl.example/h.deb' sparkle:version='" + version +
               "' sparkle:shortVersionString='" + version + "'/></item>";
    }
    return "<item><title>Halvo " + version + "</title>" + channelElement + "<sparkle:version>" +
           version +
           "</sparkle:version>"
           "<sparkle:releaseNotesLink>https://tavlabs.com/changelog/halvo#" +
           version + "</sparkle:releaseNotesLink></item>";
}

QByteArray feed(const QByteArray& items) {
    return "<?xml version='1.0'?><rss version='2.0' "
           "xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel>" +
           items + "</channel></rss>";
}

TAVUpdateConfig testConfig() {
    TAVUpdateConfig config = halvoUpdateConfig();
    config.automaticallyChecksForUpdates = false;
    return config;
}

UpdateCheckTiming quickTiming() {
    UpdateCheckTiming timing;
    timing.firstBackgroundCheck = std::chrono::milliseconds(50);
    timing.fetch.timeout = std::chrono::milliseconds(1000);
    return timing;
}

}  // namespace

class UpdateCheckTest final : public QObject {
    Q_OBJECT
  private slots:
    void init() { qunsetenv("HALVO_UPDATE_FEED_URL"); }

    void userCheckEnds_data() {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QString>("expected");  // the status line

        auto ok = [](const QByteArray& body) {
            return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                   "\r\n\r\n" + body;
        };
        QTest::newRow("newer") << ok(feed(item("0.0.1") + item("9.9.9") + item("9.1")))
                               << "Update available (9.9.9)";
        QTest::newRow("same, as attributes") << ok(feed(item(kRunning, true))) << "Up to date";
        QTest::newRow("older") << ok(feed(item("0.0.1"))) << "Up to date";
        QTest::newRow("beta with prereleases off")
            << ok(feed(item("9.9.9", false, "beta") + item(kRunning))) << "Up to date";
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
        QTest::newRow("not found")
            << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
            << "Update check failed: the feed answered HTTP 404";
    }

    void userCheckEnds() {
        QFETCH(QByteArray, response);
        QFETCH(QString, expected);
        FeedServer server;
        if (!response.isEmpty()) {
            server.respond(QStringLiteral("/appcast.xml"), response);
        }
        qputenv("HALVO_UPDATE_FEED_URL", server.url(QStringLiteral("/appcast.xml")).toEncoded());
        InMemoryDefaultsStore defaults;
        TAVUpdateScheduler scheduler(testConfig(), defaults, quickTiming());
        QSignalSpy finished(&scheduler, &TAVUpdateScheduler::userCheckFinished);

        scheduler.checkForUpdates();
        QCOMPARE(scheduler.state().kind, TAVUpdateState::Kind::checking);
        QVERIFY(!scheduler.canCheckForUpdates());
        QVERIFY(finished.wait(5000));

        QVERIFY(scheduler.canCheckForUpdates());
        const QString line = QString::fromStdString(scheduler.state().statusLine());
        QVERIFY2(line.startsWith(expected), qPrintable(line));
        QCOMPARE(scheduler.pendingUpdateVersion().has_value(),
                 expected.startsWith("Update available"));
        QVERIFY(defaults.values.contains("tavlabs.halvo.lastUpdateCheck"));
    }

    void feedOverride_data() {
        QTest::addColumn<QByteArray>("override");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("https mirror") << QByteArray("https://mirror.example/halvo.xml") << true;
        QTest::newRow("http loopback v4") << QByteArray("http://127.0.0.1:8080/a.xml") << true;
        QTest::newRow("http loopback v6") << QByteArray("http://[::1]:8080/a.xml") << true;
        QTest::newRow("http elsewhere") << QByteArray("http://mirror.example/a.xml") << false;
        QTest::newRow("file") << QByteArray("file:///etc/passwd") << false;
    }

    void feedOverride() {
        QFETCH(QByteArray, override);
        QFETCH(bool, accepted);
        const QString configured =
            QStringLiteral("https://tavlabs.com/downloads/halvo/appcast.xml");
        if (!accepted) {
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(QStringLiteral("HALVO_UPDATE_FEED_URL .*%1")
                                                     .arg(QRegularExpression::escape(configured))));
        }
        QCOMPARE(effectiveFeedURL(configured, override),
                 accepted ? QUrl(QString::fromUtf8(override)) : QUrl(configured));
    }

    void backgroundCheckIsDueOnceAnIntervalPassed() {
        FeedServer server;
        server.serve(QStringLiteral("/appcast.xml"), feed(item("9.9.9")));
        qputenv("HALVO_UPDATE_FEED_URL", server.url(QStringLiteral("/appcast.xml")).toEncoded());
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const qint64 hoursAgo : {1, 25}) {
            InMemoryDefaultsStore defaults;
            defaults.values["tavlabs.halvo.lastUpdateCheck"] =
                now.addSecs(-hoursAgo * 3600).toString(Qt::ISODateWithMs).toStdString();
            TAVUpdateScheduler scheduler(halvoUpdateConfig(), defaults, quickTiming());
            scheduler.start();
            if (hoursAgo == 1) {
                // Due when the day since the last check is over.
                QVERIFY(qAbs(scheduler.nextBackgroundCheck()->secsTo(now.addSecs(23 * 3600))) < 60);
                continue;
            }
            QTRY_COMPARE_WITH_TIMEOUT(scheduler.pendingUpdateVersion(),
                                      std::optional(QStringLiteral("9.9.9")), 5000);
            // Gently: the state stays as it was, and the next check is a day away.
            QCOMPARE(scheduler.state().kind, TAVUpdateState::Kind::idle);
            QVERIFY(qAbs(scheduler.nextBackgroundCheck()->secsTo(now.addSecs(24 * 3600))) < 60);
        }
    }

    void foundUpdateIsShownOnceOpened() {
        FeedServer server;
        server.serve(QStringLiteral("/appcast.xml"), feed(item("9.9.9")));
        qputenv("HALVO_UPDATE_FEED_URL", server.url(QStringLiteral("/appcast.xml")).toEncoded());
        InMemoryDefaultsStore defaults;
        ui::TAVSatelliteWindowPresenter presenter;
        OpenedUrls opened;
        std::unique_ptr<AppServices> services =
            AppServices::create(defaults, presenter, halvoUpdateConfig, quickTiming());
        QSignalSpy pending(services.get(), &AppServices::pendingUpdateVersionChanged);
        QVERIFY(pending.wait(5000));
        QCOMPARE(services->pendingUpdateVersion(), std::optional(QStringLiteral("9.9.9")));

        services->installPendingUpdate();
        QWidget* window = presenter.window(QStringLiteral("update-check"));
        QVERIFY(window != nullptr);
        QPushButton* install = nullptr;
        for (QPushButton* button : window->findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("Install")) {
                install = button;
            }
        }
        QVERIFY(install != nullptr);
        install->click();
        QCOMPARE(opened.urls, QList<QUrl>{QUrl("https://tavlabs.com/changelog/halvo#9.9.9")});
        QCOMPARE(services->pendingUpdateVersion(), std::nullopt);
        QCOMPARE(pending.count(), 2);
    }

    void refusedConfigurationLeavesNoServices() {
        InMemoryDefaultsStore defaults;
        ui::TAVSatelliteWindowPresenter presenter;
        QTest::ignoreMessage(QtWarningMsg,
                             "Halvo: application services unavailable; the local port tools carry "
                             "on: The update feed URL is invalid.");
        QVERIFY(AppServices::create(defaults, presenter, [] {
                    return TAVUpdateConfig::tavLabs("halvo", "Halvo", "http://tavlabs.com",
                                                    "stable", true, false, 86400, false);
                }) == nullptr);
    }
};

}  // namespace halvo

QTEST_MAIN(halvo::UpdateCheckTest)
#include "update_check_test.moc"
