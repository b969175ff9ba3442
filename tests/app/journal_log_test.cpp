#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>
#include <QTest>
#include <QUuid>

#include <systemd/sd-journal.h>
#include <unistd.h>

#include <functional>
#include <utility>

#include "app/journal_log.h"

namespace halvo {
namespace {

// What the stand-in journal received, and what it answers.
QStringList received;
int sendResult = 0;

int standInSend(const struct iovec* fields, int count) {
    received.clear();
    for (int i = 0; i < count; ++i) {
        received << QString::fromUtf8(static_cast<const char*>(fields[i].iov_base),
                                      static_cast<qsizetype>(fields[i].iov_len));
    }
    return sendResult;
}

}  // namespace

class JournalLogTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { sendResult = 0; }
    void cleanup() { restoreQtTestHandler(); }

    void entriesCarryPriorityCategoryAndLocation_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("located");
        QTest::addColumn<QStringList>("fields");
        const QStringList common{"MESSAGE=Inter is missing\nusing the system font",
                                 "SYSLOG_IDENTIFIER=halvo", "QT_CATEGORY=tav.ui.FontRegistration"};
        const QStringList location{"CODE_FILE=src/ui/fonts.cpp", "CODE_LINE=42",
                                   "CODE_FUNC=void registerFonts()"};
        QTest::newRow("debug") << int(QtDebugMsg) << false << common + QStringList{"PRIORITY=7"};
        QTest::newRow("info") << int(QtInfoMsg) << true
                              << common + location + QStringList{"PRIORITY=6"};
        QTest::newRow("warning") << int(QtWarningMsg) << false
                                 << common + QStringList{"PRIORITY=4"};
        QTest::newRow("critical") << int(QtCriticalMsg) << true
                                  << common + location + QStringList{"PRIORITY=2"};
    }

    void entriesCarryPriorityCategoryAndLocation() {
        QFETCH(int, type);
        QFETCH(bool, located);
        QFETCH(QStringList, fields);
        qtTestHandler_ = installJournalMessageHandler(standInSend);
        const QMessageLogContext context(located ? "src/ui/fonts.cpp" : nullptr, located ? 42 : 0,
                                         located ? "void registerFonts()" : nullptr,
                                         "tav.ui.FontRegistration");
        qt_message_output(QtMsgType(type), context,
                          QStringLiteral("Inter is missing\nusing the system font"));
        restoreQtTestHandler();
        received.sort();
        fields.sort();
        QCOMPARE(received, fields);
    }

    // A message the journal refuses, or that no journald would take, stays on
    // standard error (a file here, as from a launcher, not a terminal).
    void messagesTheJournalCannotTakeStayOnStandardError() {
        sendResult = -EAGAIN;
        QCOMPARE(standardErrorOf([this] {
                     qtTestHandler_ = installJournalMessageHandler(standInSend);
                     qWarning("halvo: no session bus");
                 }),
                 QByteArray("halvo: no session bus\n"));
        QVERIFY(!received.isEmpty());

        if (QFile::exists(QLatin1String(kJournalSocket))) {
            QSKIP("journald runs here; the read-back case covers that route");
        }
        QCOMPARE(standardErrorOf([this] {
                     qtTestHandler_ = qInstallMessageHandler(nullptr);  // Qt's own, as in main()
                     installJournalMessageHandler();
                     qWarning("halvo: no session bus");
                 }),
                 QByteArray("halvo: no session bus\n"));
    }

    // With a journal running, the entry is read back as journalctl shows it.
    void theRealJournalKeepsTheFields() {
        if (!QFile::exists(QLatin1String(kJournalSocket))) {
            QSKIP("no journald on this machine; the stand-in cases cover the fields");
        }
        const QString text = QStringLiteral("journal test ") + QUuid::createUuid().toString();
        qtTestHandler_ = installJournalMessageHandler(sd_journal_sendv);
        QMessageLogger("src/app/main.cpp", 7, "int main()", "halvo.test")
            .warning("%s", qPrintable(text));
        restoreQtTestHandler();

        QJsonObject entry;
        const auto readBack = [&] {
            QProcess journalctl;
            journalctl.start(QStringLiteral("journalctl"),
                             {QStringLiteral("--output=json"), QStringLiteral("--identifier=halvo"),
                              QStringLiteral("MESSAGE=") + text});
            journalctl.waitForFinished(5'000);
            entry = QJsonDocument::fromJson(journalctl.readAllStandardOutput()).object();
            return !entry.isEmpty();
        };
        // journald writes asynchronously.
        QVERIFY2(QTest::qWaitFor(readBack, 10'000), "the entry never reached the journal");
        QCOMPARE(entry.value("PRIORITY").toString(), QStringLiteral("4"));
        QCOMPARE(entry.value("QT_CATEGORY").toString(), QStringLiteral("halvo.test"));
        QCOMPARE(entry.value("CODE_LINE").toString(), QStringLiteral("7"));
    }

  private:
    // What `write` sends to standard error, here a file rather than a terminal.
    QByteArray standardErrorOf(const std::function<void()>& write) {
        QTemporaryFile capture;
        if (!capture.open()) {
            return "cannot capture standard error";
        }
        const int savedStderr = dup(STDERR_FILENO);
        dup2(capture.handle(), STDERR_FILENO);
        write();
        restoreQtTestHandler();
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);
        QFile written(capture.fileName());
        return written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray();
    }

    void restoreQtTestHandler() {
        if (qtTestHandler_ != nullptr) {
            qInstallMessageHandler(std::exchange(qtTestHandler_, nullptr));
        }
    }

    QtMessageHandler qtTestHandler_ = nullptr;
};

}  // namespace halvo

QTEST_GUILESS_MAIN(halvo::JournalLogTest)
#include "journal_log_test.moc"
