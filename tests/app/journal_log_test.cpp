// Qt's messages as journal entries: through a stand-in sender, and through
// journald read back with journalctl where it runs.
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

// Runs `write` with Qt's messages going through `send` (Qt's own handler when
// null), and returns what reached standard error, a file here as from a launcher.
QByteArray standardErrorOf(JournalSend send, const std::function<void()>& write) {
    QTemporaryFile capture;
    if (!capture.open()) {
        return "cannot capture standard error";
    }
    const int savedStderr = dup(STDERR_FILENO);
    dup2(capture.handle(), STDERR_FILENO);
    const QtMessageHandler qtTest =
        send ? installJournalMessageHandler(send) : qInstallMessageHandler(nullptr);
    if (!send) {
        installJournalMessageHandler();
    }
    write();
    qInstallMessageHandler(qtTest);
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    QFile written(capture.fileName());
    return written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray();
}

}  // namespace

class JournalLogTest : public QObject {
    Q_OBJECT

  private slots:
    void entriesCarryPriorityCategoryAndLocation() {
        const QStringList common{"MESSAGE=Inter is missing\nusing the system font",
                                 "SYSLOG_IDENTIFIER=halvo", "QT_CATEGORY=tav.ui.FontRegistration"};
        const QStringList location{"CODE_FILE=src/ui/fonts.cpp", "CODE_LINE=42",
                                   "CODE_FUNC=void registerFonts()"};
        const struct {
            QtMsgType type;
            bool located;
            const char* priority;
        } rows[] = {{QtDebugMsg, false, "PRIORITY=7"},
                    {QtInfoMsg, true, "PRIORITY=6"},
                    {QtWarningMsg, false, "PRIORITY=4"},
                    {QtCriticalMsg, true, "PRIORITY=2"}};
        sendResult = 0;
        for (const auto& row : rows) {
            const QMessageLogContext context(
                row.located ? "src/ui/fonts.cpp" : nullptr, row.located ? 42 : 0,
                row.located ? "void registerFonts()" : nullptr, "tav.ui.FontRegistration");
            const QtMessageHandler qtTest = installJournalMessageHandler(standInSend);
            qt_message_output(row.type, context,
                              QStringLiteral("Inter is missing\nusing the system font"));
            qInstallMessageHandler(qtTest);
            QStringList expected = common + QStringList{row.priority};
            if (row.located) {
                expected += location;
            }
            received.sort();
            expected.sort();
            QCOMPARE(received, expected);
        }
    }

    // A message the journal refuses, or that no journald would take, stays on
    // standard error.
    void messagesTheJournalCannotTakeStayOnStandardError() {
        sendResult = -EAGAIN;
        const auto warn = [] { qWarning("halvo: no session bus"); };
        QCOMPARE(standardErrorOf(standInSend, warn), QByteArray("halvo: no session bus\n"));
        QVERIFY(!received.isEmpty());
        if (QFile::exists(QLatin1String(kJournalSocket))) {
            QSKIP("journald runs here; the read-back case covers that route");
        }
        QCOMPARE(standardErrorOf(nullptr, warn), QByteArray("halvo: no session bus\n"));
    }

    // With a journal running, the entry is read back as journalctl shows it.
    void theRealJournalKeepsTheFields() {
        if (!QFile::exists(QLatin1String(kJournalSocket))) {
            QSKIP("no journald on this machine; the stand-in cases cover the fields");
        }
        const QString text = QStringLiteral("journal test ") + QUuid::createUuid().toString();
        standardErrorOf(sd_journal_sendv, [&] {
            QMessageLogger("src/app/main.cpp", 7, "int main()", "halvo.test")
                .warning("%s", qPrintable(text));
        });
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
};

}  // namespace halvo

QTEST_GUILESS_MAIN(halvo::JournalLogTest)
#include "journal_log_test.moc"
