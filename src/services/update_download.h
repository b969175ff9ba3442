// Downloads an update's file and verifies it: bounded by the length the feed
// announces (itself under a hard cap), over https only (or http to the
// loopback when the feed is read there, for tests and local mirrors), never
// redirected to anything but https. A file that fails any check is deleted.
// Main thread only.
#pragma once

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "appkit/update_enclosure.h"
#include "services/appcast_reader.h"

namespace halvo {

class UpdateDownload final : public QObject {
    Q_OBJECT
  public:
    struct Verified {
        QString path;
    };
    struct Failed {
        QString message;  // what follows "Update download failed: "
    };
    using Result = std::variant<Verified, Failed>;

    // `publicKey`: the maker's, base64.
    explicit UpdateDownload(std::string publicKey, QObject* parent = nullptr);
    ~UpdateDownload() override;

    // Fetches `enclosure` into `path` (through `path` + ".part"), reporting
    // the fraction done to `progress`; `done` is called once, later. A
    // download still running is cancelled first.
    void start(const AppcastEnclosure& enclosure, bool allowLoopbackHttp, const QString& path,
               std::function<void(double)> progress, std::function<void(Result)> done);
    // Stops and deletes what was fetched; `done` is not called.
    void cancel();
    bool isRunning() const { return reply_ != nullptr; }

  private:
    void fail(const QString& message);
    void received();
    void replyFinished();
    void stop();
    void removePartial();

    std::string publicKey_;
    QNetworkAccessManager network_;
    QPointer<QNetworkReply> reply_;
    QFile file_;
    QString path_;
    TAVUpdateEnclosure enclosure_;
    std::function<void(double)> progress_;
    std::function<void(Result)> done_;
    quint64 generation_ = 0;
};

}  // namespace halvo
