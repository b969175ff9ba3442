// The tray's parts that need no desktop: the glyph an installed icon theme
// gives, and Qt's messages as journal entries.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <unistd.h>

#include <functional>

#include "app/journal_log.h"
#include "app/status_icon.h"

namespace halvo {
namespace {

TEST(StatusIcon, AnInstalledSymbolicIconWinsOverTheBuiltInGlyph) {
    const QColor ink(0x11, 0x22, 0x33);
    ASSERT_EQ(qAlpha(glyphImage(ink, 18).pixel(0, 0)), 0);  // the built-in corner is empty
    QTemporaryDir data;
    const QString apps = data.path() + "/icons/hicolor/scalable/apps";
    QFile icon(apps + "/com.tavlabs.halvo-symbolic.svg");
    ASSERT_TRUE(QDir().mkpath(apps) && icon.open(QIODevice::WriteOnly));
    icon.write(R"(<svg xmlns="http://www.w3.org/2000/svg" width="18" height="18">)"
               R"(<rect width="18" height="18" fill="#2e3436"/></svg>)");
    icon.close();
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const QImage installed = glyphImage(ink, 18);
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_EQ(installed.pixel(0, 0), ink.rgb());  // the square, in the tray's colour
}

// What the stand-in journal received, and what it answers.
QStringList received;
int sendResult = 0;
int standInSend(const struct iovec* fields, int count) {
    received.clear();
    for (int i = 0; i < count; ++i) {
        received << QString::fromUtf8(static_cast<const char*>(fields[i].iov_base),
                                      static_cast<qsizetype>(fields[i].iov_len));
    }
    received.sort();
    return sendResult;
}

// Qt's message from `write` through `send` (the handler main() installs when
// null), and what reached standard error, a file here as from a launcher.
QByteArray standardErrorOf(JournalSend send, const std::function<void()>& write) {
    QTemporaryFile capture;
    EXPECT_TRUE(capture.open());
    const int savedStderr = dup(STDERR_FILENO);
    dup2(capture.handle(), STDERR_FILENO);
    send ? (void)installJournalMessageHandler(send) : installJournalMessageHandler();
    write();
    qInstallMessageHandler(nullptr);
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    capture.seek(0);
    return capture.readAll();
}

TEST(JournalLog, EntriesCarryTheirFieldsOrStayOnStandardError) {
    sendResult = 0;
    const QMessageLogContext located("src/ui/fonts.cpp", 42, "void f()", "tav.ui.Fonts");
    standardErrorOf(standInSend, [&] { qt_message_output(QtCriticalMsg, located, "a\nb"); });
    EXPECT_EQ(received, QStringList({"CODE_FILE=src/ui/fonts.cpp", "CODE_FUNC=void f()",
                                     "CODE_LINE=42", "MESSAGE=a\nb", "PRIORITY=2",
                                     "QT_CATEGORY=tav.ui.Fonts", "SYSLOG_IDENTIFIER=halvo"}));
    const QMessageLogContext unlocated(nullptr, 0, nullptr, "tav.ui.Fonts");
    standardErrorOf(standInSend, [&] { qt_message_output(QtDebugMsg, unlocated, "a"); });
    EXPECT_EQ(received, QStringList({"MESSAGE=a", "PRIORITY=7", "QT_CATEGORY=tav.ui.Fonts",
                                     "SYSLOG_IDENTIFIER=halvo"}));

    // A message the journal refuses stays on standard error, and so does every
    // message where no journald runs to take it.
    sendResult = -EAGAIN;
    const auto warn = [] { qWarning("halvo: no session bus"); };
    EXPECT_EQ(standardErrorOf(standInSend, warn), "halvo: no session bus\n");
    EXPECT_FALSE(received.isEmpty());
    EXPECT_EQ(standardErrorOf(nullptr, warn),
              QFile::exists(QLatin1String(kJournalSocket)) ? "" : "halvo: no session bus\n");
}

}  // namespace
}  // namespace halvo
