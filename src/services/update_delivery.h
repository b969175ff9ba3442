// Takes a found update from the feed to the installed package: downloading
// (with its progress), verified and ready to install, installing through
// PackageKit, then installed. Any failure ends in `failed` with the file
// deleted, except when no PackageKit answers: the verified file is kept for
// the user to install by hand. Main thread only.
#pragma once

#include <QObject>
#include <QString>

#include <string>

#include "appkit/update_config.h"
#include "services/appcast_reader.h"
#include "services/package_kit_installer.h"
#include "services/update_download.h"

namespace halvo {

class UpdateDelivery final : public QObject {
    Q_OBJECT
  public:
    // Files go into `folder`, named after `productSlug`; `publicKey` is the
    // maker's (base64); http to the loopback is allowed only with
    // `allowLoopbackHttp` (a feed read there).
    UpdateDelivery(QString folder, std::string productSlug, std::string publicKey,
                   bool allowLoopbackHttp, QObject* parent = nullptr);

    // idle, downloading, readyToInstall, installing or failed; the version
    // rides along with all but idle and failed.
    const TAVUpdateState& state() const { return state_; }
    bool isBusy() const;
    // The installation succeeded; the running binary is the old one.
    bool isInstalled() const { return installed_; }
    // The verified file: while ready to install, and kept after no PackageKit
    // answered.
    const QString& file() const { return file_; }
    // Whether `item` can be fetched here at all (it has an enclosure and this
    // build a key); without, the update is only announced.
    bool canDeliver(const AppcastItem& item) const;

    // Downloads and verifies `item`, then waits in readyToInstall. Ignored
    // while busy, and for the version already verified or installed.
    void download(const AppcastItem& item);
    // A running download stops, its file deleted; back to idle.
    void cancel();
    // From readyToInstall: hands the file to PackageKit.
    void install();

  signals:
    void changed();

  private:
    void setState(TAVUpdateState::Kind kind, std::optional<TAVUpdateError> error = std::nullopt);
    // Verified files still must be this product's package.
    void downloaded(UpdateDownload::Result result);
    void downloadFailed(const QString& message);
    void installEnded(PackageKitInstaller::Result result);

    QString folder_;
    std::string productSlug_;
    std::string publicKey_;
    bool allowLoopbackHttp_;
    UpdateDownload download_;
    PackageKitInstaller installer_;
    TAVUpdateState state_;
    QString version_;
    QString path_;  // of the current download
    quint64 attempt_ = 0;
    QString file_;
    bool installed_ = false;
};

}  // namespace halvo
