// The application services offscreen: update checks against a feed server
// the test runs on the loopback, signed updates handed to a stand-in
// PackageKit on a private bus, and the about, support, update and welcome
// windows.
#include <sodium.h>

#include <QCheckBox>
#include <QClipboard>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
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

// A key pair of the maker's, or of another product's.
struct TestKey {
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    TestKey() { crypto_sign_keypair(publicKey, secretKey); }
    QByteArray sign(const QByteArray& bytes) const {
        QByteArray signature(crypto_sign_BYTES, '\0');
        crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                             secretKey);
        return signature.toBase64();
    }
    std::string publicBase64() const {
        return QByteArray::fromRawData(reinterpret_cast<const char*>(publicKey), sizeof publicKey)
            .toBase64()
            .toStdString();
    }
};

// A process the test starts, once it has written its first line; ended with the test.
struct Started final : QProcess {
    Started(const QString& program, const QStringList& arguments) {
        start(program, arguments);
        waitForReadyRead(10000);
    }
    ~Started() override {
        kill();
        waitForFinished();
    }
};

const QString kStandInPackageKit =
    QStringLiteral(HALVO_TEST_SOURCE_DIR "/services/stand_in_packagekit.py");

// One item of version 9.9.9 whose enclosure offers `url`.
QByteArray enclosureItem(const QUrl& url, qint64 length, const QByteArray& signature) {
    return "<item><sparkle:version>9.9.9</sparkle:version><enclosure url='" + url.toEncoded() +
           "' length='" + QByteArray::number(length) +
           "' type='application/vnd.debian.binary-package' sparkle:edSignature='" + signature +
           "'/></item>";
}

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
    std::unique_ptr<Started> systemBus_;  // the stand-in PackageKit's
    testing::TempDir dir_;
    QString updates_;      // where downloads go
    QByteArray deb_;       // a small real package
    QByteArray otherDeb_;  // another product's

    // A package named `name`, built with dpkg-deb.
    QByteArray buildDeb(const std::string& name) {
        dir_.writeFile(name + "/DEBIAN/control",
                       "Package: " + name +
                           "\nVersion: 9.9.9\nArchitecture: all\nMaintainer: T <t@example.com>\n"
                           "Description: test\n");
        const std::string deb = dir_.path() + "/" + name + ".deb";
        QProcess::execute(
            QStringLiteral("dpkg-deb"),
            {"--build", "--root-owner-group", QString::fromStdString(dir_.path() + "/" + name),
             QString::fromStdString(deb)});
        QFile file(QString::fromStdString(deb));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    TestKey maker_;

    // Halvo's configuration with the test maker's key.
    std::function<TAVUpdateConfig()> signedConfig(bool automatic) {
        return [this, automatic] {
            TAVUpdateConfig config = halvoUpdateConfig();
            config.updatePublicKey = maker_.publicBase64();
            config.automaticallyChecksForUpdates = config.automaticallyDownloadsUpdates = automatic;
            return config;
        };
    }

  private slots:
    void initTestCase() {
        // Each download lands in this test's own folder; PackageKit is the stand-in.
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(dir_.path()));
        updates_ = QString::fromStdString(dir_.path()) + QStringLiteral("/halvo/updates");
        systemBus_ =
            std::make_unique<Started>(QStringLiteral("dbus-daemon"),
                                      QStringList{"--session", "--nofork", "--print-address=1"});
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", systemBus_->readLine().trimmed());
        deb_ = buildDeb("halvo");
        otherDeb_ = buildDeb("other");
    }

    // Found by a background check with automatic downloads on: each bad file
    // or PackageKit ends in `failed` with its reason, the file deleted (kept
    // only for the user when no PackageKit answers), checking enabled again,
    // and InstallFiles never reached by a file that failed its checks.
    void signedUpdateFails_data() {
        // full, truncated, remote, redirect, other product
        QTest::addColumn<QString>("served");
        QTest::addColumn<qint64>("announcedMore");
        QTest::addColumn<QString>("signer");      // maker, other, tampered
        QTest::addColumn<QString>("packageKit");  // how it ends an installation; empty: none
        QTest::addColumn<QString>("expected");
        const QString notSigned = QStringLiteral(
            "Update download failed: the downloaded file is not signed by the maker");
        QTest::newRow("tampered") << "full" << 0LL << "tampered"
                                  << "installs" << notSigned;
        QTest::newRow("another product's key") << "full" << 0LL << "other"
                                               << "installs" << notSigned;
        QTest::newRow("another product's package")
            << "other product" << 0LL << "maker"
            << "installs"
            << "Update download failed: the file is the package other, not halvo";
        QTest::newRow("shorter than announced")
            << "full" << 1LL << "maker"
            << "installs"
            << "Update download failed: the downloaded file is not the length the feed announces";
        QTest::newRow("larger than announced")
            << "full" << -1LL << "maker"
            << "installs"
            << "Update download failed: the file is larger than the feed announces";
        QTest::newRow("truncated") << "truncated" << 0LL << "maker"
                                   << "installs"
                                   << "Update download failed: ";
        QTest::newRow("http to a remote host")
            << "remote" << 0LL << "maker"
            << "installs"
            << "Update download failed: the file's address http://example.com/halvo.deb does not "
               "use https";
        QTest::newRow("redirect to http")
            << "redirect" << 0LL << "maker"
            << "installs"
            << "Update download failed: the download redirected to http://example.com/halvo.deb, "
               "which does not use https";
        QTest::newRow("PackageKit refuses") << "full" << 0LL << "maker"
                                            << "refuses"
                                            << "Update installation failed: Not authorized";
        QTest::newRow("PackageKit vanishes")
            << "full" << 0LL << "maker"
            << "vanishes"
            << "Update installation failed: PackageKit stopped before the installation finished";
        QTest::newRow("no PackageKit") << "full" << 0LL << "maker"
                                       << ""
                                       << "Update installation failed: PackageKit does not answer";
    }

    void signedUpdateFails() {
        QFETCH(QString, served);
        QFETCH(qint64, announcedMore);
        QFETCH(QString, signer);
        QFETCH(QString, packageKit);
        QFETCH(QString, expected);
        QDir(updates_).removeRecursively();
        FeedServer server;
        const QString path = QStringLiteral("/halvo_9.9.9.deb");
        const QByteArray& deb = served == u"other product" ? otherDeb_ : deb_;
        if (served == u"truncated") {
            server.respond(path, ok(deb).replace(deb, deb.left(deb.size() / 2)));
        } else if (served == u"redirect") {
            server.respond(path,
                           "HTTP/1.1 302 Found\r\nLocation: http://example.com/halvo.deb\r\n"
                           "Content-Length: 0\r\n\r\n");
        } else {
            server.respond(path, ok(deb));
        }
        const QByteArray signature = signer == u"other"      ? TestKey().sign(deb)
                                     : signer == u"tampered" ? maker_.sign(deb + "x")
                                                             : maker_.sign(deb);
        const QUrl url =
            served == u"remote" ? QUrl("http://example.com/halvo.deb") : server.url(path);
        serveFeed(server, ok(feed(enclosureItem(url, deb.size() + announcedMore, signature))));
        const QString record =
            QString::fromStdString(dir_.path()) + "/calls " + QTest::currentDataTag();
        std::optional<Started> standIn;
        if (!packageKit.isEmpty()) {
            standIn.emplace(kStandInPackageKit, QStringList{packageKit, record});
        }
        InMemoryDefaultsStore defaults;
        ui::TAVSatelliteWindowPresenter presenter;
        auto services = AppServices::create(defaults, presenter, signedConfig(true), kQuick);
        using Kind = TAVUpdateState::Kind;
        const UpdateDelivery& delivery = services->delivery();
        QTRY_VERIFY_WITH_TIMEOUT(
            delivery.state().kind == Kind::failed || services->isUpdateReadyToInstall(), 10000);
        if (services->isUpdateReadyToInstall()) {
            services->installPendingUpdate();
            button(presenter.window(kUpdateWindowId), QStringLiteral("Install"))->click();
            QTRY_COMPARE_WITH_TIMEOUT(delivery.state().kind, Kind::failed, 10000);
        }
        const QString line = QString::fromStdString(delivery.state().statusLine());
        QVERIFY2(line.startsWith(expected), qPrintable(line));
        QVERIFY(services->canCheckForUpdates());
        QCOMPARE(QDir(updates_).entryList(QDir::Files),
                 packageKit.isEmpty() ? QStringList{"halvo_9.9.9.deb"} : QStringList{});
        if (packageKit.isEmpty()) {
            const auto labels = presenter.window(kUpdateWindowId)->findChildren<QLabel*>();
            QVERIFY(std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
                return label->text().contains("sudo apt install " + updates_ + "/halvo_9.9.9.deb");
            }));
        }
        if (QWidget* window = presenter.window(kUpdateWindowId)) {
            window->close();
        }
        QFile calls(record);
        QCOMPARE(calls.open(QIODevice::ReadOnly) && !calls.readAll().isEmpty(),
                 expected.startsWith("Update installation failed") && !packageKit.isEmpty());
    }

    // A user's check finds the signed update; Install downloads and verifies
    // it, Install again hands exactly that file to PackageKit, and Halvo
    // offers to restart.
    void signedUpdateInstallsThroughPackageKit() {
        QDir(updates_).removeRecursively();
        FeedServer server;
        server.respond(QStringLiteral("/halvo_9.9.9.deb"), ok(deb_));
        serveFeed(server, ok(feed(enclosureItem(server.url(QStringLiteral("/halvo_9.9.9.deb")),
                                                deb_.size(), maker_.sign(deb_)))));
        const QString record = QString::fromStdString(dir_.path() + "/calls");
        const Started standIn(kStandInPackageKit, {QStringLiteral("installs"), record});
        InMemoryDefaultsStore defaults;
        ui::TAVSatelliteWindowPresenter presenter;
        auto services = AppServices::create(defaults, presenter, signedConfig(false), kQuick);
        services->checkForUpdates();
        QTRY_VERIFY_WITH_TIMEOUT(presenter.window(kUpdateWindowId), 5000);
        button(presenter.window(kUpdateWindowId), QStringLiteral("Install"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(services->isUpdateReadyToInstall(), 10000);
        button(presenter.window(kUpdateWindowId), QStringLiteral("Install"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(button(presenter.window(kUpdateWindowId), "Restart Halvo"), 10000);
        presenter.window(kUpdateWindowId)->close();
        QFile calls(record);
        QVERIFY(calls.open(QIODevice::ReadOnly));
        QCOMPARE(calls.readAll(),
                 "InstallFiles 0 " + (updates_ + "/halvo_9.9.9.deb").toUtf8() + ' ' +
                     QCryptographicHash::hash(deb_, QCryptographicHash::Sha256).toHex() + '\n');
        QCOMPARE(services->pendingUpdateVersion(), std::nullopt);
    }

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
