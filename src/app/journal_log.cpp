#include "app/journal_log.h"

#include <QByteArray>
#include <QString>

#include <syslog.h>
#include <unistd.h>
#include <array>
#include <cstdio>

#define SD_JOURNAL_SUPPRESS_LOCATION  // the message's location is ours to give, not this file's
#include <systemd/sd-journal.h>

namespace halvo {
namespace {

// Qt's message handler is a plain function pointer, so the sender it uses has
// to live here. Set once at start-up, before any thread logs.
JournalSend journalSend = nullptr;

int priorityOf(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return LOG_DEBUG;
        case QtInfoMsg:
            return LOG_INFO;
        case QtWarningMsg:
            return LOG_WARNING;
        case QtCriticalMsg:
            return LOG_CRIT;
        case QtFatalMsg:
            return LOG_ALERT;
    }
    return LOG_NOTICE;
}

void writeToStandardError(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

void sendToJournal(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    std::array<QByteArray, 7> fields;
    int count = 0;
    fields[count++] = "MESSAGE=" + message.toUtf8();
    fields[count++] = "PRIORITY=" + QByteArray::number(priorityOf(type));
    fields[count++] = "SYSLOG_IDENTIFIER=halvo";
    if (context.category != nullptr) {
        fields[count++] = QByteArray("QT_CATEGORY=") + context.category;
    }
    // Qt fills these in debug builds, or where QT_MESSAGELOGCONTEXT is defined.
    if (context.file != nullptr) {
        fields[count++] = QByteArray("CODE_FILE=") + context.file;
    }
    if (context.line > 0) {
        fields[count++] = "CODE_LINE=" + QByteArray::number(context.line);
    }
    if (context.function != nullptr) {
        fields[count++] = QByteArray("CODE_FUNC=") + context.function;
    }

    std::array<iovec, fields.size()> vector{};
    for (int i = 0; i < count; ++i) {
        vector[i] = {const_cast<char*>(fields[i].constData()),
                     static_cast<size_t>(fields[i].size())};
    }
    if (journalSend(vector.data(), count) < 0) {
        writeToStandardError(type, context, message);  // keep the message anyway
    }
}

}  // namespace

QtMessageHandler installJournalMessageHandler(JournalSend send) {
    journalSend = send;
    return qInstallMessageHandler(sendToJournal);
}

void installJournalMessageHandler() {
    // The journal's stream (JOURNAL_STREAM) is a socket, so "not a terminal"
    // covers it too.
    if (isatty(STDERR_FILENO) == 1 || access(kJournalSocket, F_OK) != 0 ||
        qEnvironmentVariableIntValue("QT_FORCE_STDERR_LOGGING") != 0) {
        return;
    }
    installJournalMessageHandler(sd_journal_sendv);
}

}  // namespace halvo
