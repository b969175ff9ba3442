// Qt's messages in the systemd journal. Debian's Qt writes them to standard
// error only, which is lost or flattened when Halvo is started by a desktop
// launcher or a user unit; the journal keeps their priority, Qt category and
// source location as fields.
#pragma once

#include <QtGlobal>

#include <sys/uio.h>

namespace halvo {

// Where journald listens. Without it sd_journal_sendv drops entries and still
// reports success, so the handler is only installed when it is there.
inline constexpr char kJournalSocket[] = "/run/systemd/journal/socket";

// Sends one journal entry made of "NAME=value" fields and returns 0, or a
// negative errno when the journal refuses it. The real one is sd_journal_sendv.
using JournalSend = int (*)(const struct iovec* fields, int count);

// Call first thing in main(). When standard error is not a terminal (the
// journal's own stream, a launcher's log file, nothing at all) and journald
// runs, Qt's messages go to the journal as entries of SYSLOG_IDENTIFIER
// "halvo"; otherwise, or with QT_FORCE_STDERR_LOGGING=1, Qt's own handler
// stays and writes them to standard error.
void installJournalMessageHandler();

// Routes every Qt message through `send`, unconditionally; a message it
// refuses goes to standard error in Qt's format instead. Returns the handler
// it replaced.
QtMessageHandler installJournalMessageHandler(JournalSend send);

}  // namespace halvo
