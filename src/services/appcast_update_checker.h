// One update check over the network: fetches the feed, reads it and answers
// with the newest update the user may install. Bounded in time and size, and
// over TLS only: https, or plain http to this machine's loopback (tests and
// local mirrors); a redirect must lead to https. Main thread only.
#pragma once

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVersionNumber>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <variant>

#include "services/appcast_reader.h"

namespace halvo {

// https with a host, or http to a loopback address or "localhost".
bool isAcceptableFeedURL(const QUrl& url);

struct AppcastFetchLimits {
    std::chrono::milliseconds timeout{15000};  // the whole exchange, redirects included
    qint64 maxBytes = 1024 * 1024;
};

class AppcastUpdateChecker final : public QObject {
    Q_OBJECT
  public:
    struct Found {
        AppcastItem item;
    };
    struct UpToDate {};
    struct Failed {
        QString message;
    };
    using Result = std::variant<Found, UpToDate, Failed>;

    AppcastUpdateChecker(QVersionNumber running, std::set<std::string> allowedChannels,
                         AppcastFetchLimits limits = {}, QObject* parent = nullptr);
    ~AppcastUpdateChecker() override;

    // Starts a check of `feed`; `done` is called once, later, with its result.
    // A check still running is dropped: its `done` is never called.
    void check(const QUrl& feed, std::function<void(Result)> done);
    bool isChecking() const { return reply_ != nullptr; }

  private:
    void finish(Result result);
    void replyFinished();

    QVersionNumber running_;
    std::set<std::string> allowedChannels_;
    AppcastFetchLimits limits_;
    QNetworkAccessManager network_;
    QTimer deadline_;
    QPointer<QNetworkReply> reply_;
    std::function<void(Result)> done_;
    quint64 generation_ = 0;
};

}  // namespace halvo
