#include "services/update_download.h"

#include <QNetworkRequest>
#include <QTimer>

#include "services/appcast_update_checker.h"
#include "services/https_request.h"

namespace halvo {
namespace {

// A server that stops sending for this long has failed the download.
constexpr int kStallMilliseconds = 30000;

bool isAcceptableFileURL(const QUrl& url, bool allowLoopbackHttp) {
    if (url.scheme() == u"https") {
        return !url.host().isEmpty();
    }
    return allowLoopbackHttp && isAcceptableFeedURL(url);
}

}  // namespace

UpdateDownload::UpdateDownload(std::string publicKey, QObject* parent)
    : QObject(parent), publicKey_(std::move(publicKey)) {}

UpdateDownload::~UpdateDownload() {
    cancel();
}

void UpdateDownload::start(const AppcastEnclosure& enclosure, bool allowLoopbackHttp,
                           const QString& path, std::function<void(double)> progress,
                           std::function<void(Result)> done) {
    cancel();
    progress_ = std::move(progress);
    done_ = std::move(done);
    path_ = path;
    file_.setFileName(path + QStringLiteral(".part"));
    auto parsed = TAVUpdateEnclosure::parse(
        enclosure.url.toString().toStdString(), enclosure.length.toStdString(),
        enclosure.type.toStdString(), enclosure.edSignature.toStdString());
    QString refusal;
    if (const auto* fault = std::get_if<TAVUpdateFault>(&parsed)) {
        refusal = QString::fromUtf8(describe(*fault));
    } else if (!isAcceptableFileURL(enclosure.url, allowLoopbackHttp)) {
        refusal = QStringLiteral("the file's address %1 does not use https")
                      .arg(enclosure.url.toDisplayString());
    } else if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        refusal = QStringLiteral("cannot write %1: %2").arg(file_.fileName(), file_.errorString());
    }
    if (!refusal.isEmpty()) {
        // Still answered later, like every other result.
        QTimer::singleShot(0, this, [this, refusal, generation = generation_] {
            if (generation == generation_) {
                fail(refusal);
            }
        });
        return;
    }
    enclosure_ = std::get<TAVUpdateEnclosure>(std::move(parsed));
    QNetworkRequest request(enclosure.url);
    request.setTransferTimeout(kStallMilliseconds);
    QNetworkReply* reply =
        getFollowingHttpsOnly(network_, request, this, [this](const QUrl& target) {
            fail(QStringLiteral("the download redirected to %1, which does not use https")
                     .arg(target.toDisplayString()));
        });
    reply_ = reply;
    connect(reply, &QNetworkReply::readyRead, this, &UpdateDownload::received);
    connect(reply, &QNetworkReply::finished, this, &UpdateDownload::replyFinished);
}

void UpdateDownload::received() {
    const QByteArray bytes = reply_->readAll();
    const qint64 total = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (file_.size() + bytes.size() > qint64(enclosure_.length) ||
        total > qint64(enclosure_.length)) {
        fail(QStringLiteral("the file is larger than the feed announces"));
        return;
    }
    if (file_.write(bytes) != bytes.size()) {
        fail(QStringLiteral("cannot write %1: %2").arg(file_.fileName(), file_.errorString()));
        return;
    }
    if (progress_) {
        progress_(double(file_.size()) / double(enclosure_.length));
    }
}

void UpdateDownload::replyFinished() {
    if (const std::optional<int> status = failedHttpStatus(*reply_)) {
        fail(QStringLiteral("the server answered HTTP %1").arg(*status));
        return;
    }
    if (reply_->error() != QNetworkReply::NoError) {
        fail(reply_->errorString());
        return;
    }
    received();
    if (!reply_) {
        return;
    }
    file_.close();
    if (const auto fault =
            verifyUpdateFile(file_.fileName().toStdString(), enclosure_, publicKey_)) {
        fail(QString::fromUtf8(describe(*fault)));
        return;
    }
    QFile::remove(path_);
    if (!file_.rename(path_)) {
        fail(QStringLiteral("cannot write %1: %2").arg(path_, file_.errorString()));
        return;
    }
    stop();
    if (auto done = std::exchange(done_, nullptr)) {
        done(Verified{path_});
    }
}

void UpdateDownload::fail(const QString& message) {
    stop();
    removePartial();
    if (auto done = std::exchange(done_, nullptr)) {
        done(Failed{message});
    }
}

void UpdateDownload::cancel() {
    ++generation_;
    done_ = nullptr;
    stop();
    removePartial();
}

void UpdateDownload::removePartial() {
    if (!file_.fileName().isEmpty()) {
        file_.remove();
    }
}

void UpdateDownload::stop() {
    progress_ = nullptr;
    if (QNetworkReply* reply = reply_.data()) {
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    file_.close();
}

}  // namespace halvo
