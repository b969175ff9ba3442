#include "services/appcast_update_checker.h"

#include <QHostAddress>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "services/https_request.h"

namespace halvo {

bool isAcceptableFeedURL(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) {
        return false;
    }
    if (url.scheme() == u"https") {
        return true;
    }
    return url.scheme() == u"http" &&
           (url.host() == u"localhost" || QHostAddress(url.host()).isLoopback());
}

AppcastUpdateChecker::AppcastUpdateChecker(QVersionNumber running,
                                           std::set<std::string> allowedChannels,
                                           AppcastFetchLimits limits, QObject* parent)
    : QObject(parent),
      running_(std::move(running)),
      allowedChannels_(std::move(allowedChannels)),
      limits_(limits) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        finish(Failed{QStringLiteral("the feed did not answer within %1 s")
                          .arg(std::chrono::duration<double>(limits_.timeout).count())});
    });
}

AppcastUpdateChecker::~AppcastUpdateChecker() {
    done_ = nullptr;
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
}

void AppcastUpdateChecker::check(const QUrl& feed, std::function<void(Result)> done) {
    if (reply_) {
        done_ = nullptr;
        finish(UpToDate{});  // drops the running check, telling no one
    }
    done_ = std::move(done);
    const quint64 generation = ++generation_;
    if (!isAcceptableFeedURL(feed)) {
        // Still answered later, like every other result.
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == generation_) {
                finish(Failed{QStringLiteral("the feed must use https")});
            }
        });
        return;
    }
    QNetworkRequest request(feed);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Halvo/%1").arg(running_.toString()));
    QNetworkReply* reply =
        getFollowingHttpsOnly(network_, request, this, [this](const QUrl& target) {
            finish(Failed{QStringLiteral("the feed redirected to %1, which does not use https")
                              .arg(target.toDisplayString())});
        });
    reply_ = reply;
    deadline_.start(limits_.timeout);
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        if (received > limits_.maxBytes || total > limits_.maxBytes) {
            finish(Failed{
                QStringLiteral("the feed is larger than %1 KB").arg(limits_.maxBytes / 1024)});
        }
    });
    connect(reply, &QNetworkReply::finished, this, &AppcastUpdateChecker::replyFinished);
}

void AppcastUpdateChecker::replyFinished() {
    if (const std::optional<int> status = failedHttpStatus(*reply_)) {
        finish(Failed{QStringLiteral("the feed answered HTTP %1").arg(*status)});
        return;
    }
    if (reply_->error() != QNetworkReply::NoError) {
        finish(Failed{reply_->errorString()});
        return;
    }
    const QByteArray body = reply_->readAll();
    if (body.size() > limits_.maxBytes) {
        finish(
            Failed{QStringLiteral("the feed is larger than %1 KB").arg(limits_.maxBytes / 1024)});
        return;
    }
    auto items = readAppcast(body);
    if (const QString* refused = std::get_if<QString>(&items)) {
        finish(Failed{*refused});
        return;
    }
    std::optional<AppcastItem> update =
        newestUpdate(std::get<std::vector<AppcastItem>>(items), allowedChannels_, running_);
    finish(update ? Result(Found{std::move(*update)}) : Result(UpToDate{}));
}

void AppcastUpdateChecker::finish(Result result) {
    deadline_.stop();
    if (QNetworkReply* reply = reply_.data()) {
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (std::function<void(Result)> done = std::exchange(done_, nullptr)) {
        done(std::move(result));
    }
}

}  // namespace halvo
