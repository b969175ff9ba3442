#include "services/update_delivery.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace halvo {

UpdateDelivery::UpdateDelivery(QString folder, std::string productSlug, std::string publicKey,
                               bool allowLoopbackHttp, QObject* parent)
    : QObject(parent),
      folder_(std::move(folder)),
      productSlug_(std::move(productSlug)),
      publicKey_(publicKey),
      allowLoopbackHttp_(allowLoopbackHttp),
      download_(std::move(publicKey)) {}

bool UpdateDelivery::isBusy() const {
    return state_.kind == TAVUpdateState::Kind::downloading ||
           state_.kind == TAVUpdateState::Kind::installing;
}

bool UpdateDelivery::canDeliver(const AppcastItem& item) const {
    return item.enclosure && !publicKey_.empty();
}

void UpdateDelivery::download(const AppcastItem& item) {
    const QString version = item.displayVersion();
    const bool alreadyHere =
        (state_.kind == TAVUpdateState::Kind::readyToInstall || installed_) && version == version_;
    if (isBusy() || !canDeliver(item) || alreadyHere) {
        return;
    }
    if (!file_.isEmpty()) {
        QFile::remove(file_);
        file_.clear();
    }
    version_ = version;
    installed_ = false;
    QDir().mkpath(folder_);
    // The version comes from the feed: only its plain characters name the file.
    QString safeVersion = version;
    safeVersion.replace(QRegularExpression(QStringLiteral("[^0-9A-Za-z.+~-]")),
                        QStringLiteral("_"));
    ++attempt_;
    path_ = QDir(folder_).filePath(
        QStringLiteral("%1_%2.deb").arg(QString::fromStdString(productSlug_), safeVersion));
    state_ = TAVUpdateState{TAVUpdateState::Kind::downloading, version_.toStdString(), 0.0, {}};
    emit changed();
    download_.start(
        *item.enclosure, allowLoopbackHttp_, path_,
        [this](double progress) {
            state_.progress = progress;
            emit changed();
        },
        [this](UpdateDownload::Result result) { downloaded(std::move(result)); });
}

void UpdateDelivery::cancel() {
    if (state_.kind == TAVUpdateState::Kind::downloading) {
        ++attempt_;
        download_.cancel();
        QFile::remove(path_);
        setState(TAVUpdateState::Kind::idle);
    }
}

void UpdateDelivery::install() {
    if (state_.kind != TAVUpdateState::Kind::readyToInstall) {
        return;
    }
    setState(TAVUpdateState::Kind::installing);
    installer_.install(
        file_, [this](PackageKitInstaller::Result result) { installEnded(std::move(result)); });
}

void UpdateDelivery::downloaded(UpdateDownload::Result result) {
    if (auto* failed = std::get_if<UpdateDownload::Failed>(&result)) {
        downloadFailed(failed->message);
        return;
    }
    // The signature says who made the file, not for which product: its package does.
    auto* dpkg = new QProcess(this);
    const auto inspected = [this, dpkg, attempt = attempt_] {
        dpkg->deleteLater();
        if (attempt != attempt_ || state_.kind != TAVUpdateState::Kind::downloading) {
            return;
        }
        const QString slug = QString::fromStdString(productSlug_);
        const QString package = QString::fromUtf8(dpkg->readAllStandardOutput()).trimmed();
        if (package != slug) {
            QFile::remove(path_);
            downloadFailed(
                package.isEmpty()
                    ? QStringLiteral("the file is not a Debian package")
                    : QStringLiteral("the file is the package %1, not %2").arg(package, slug));
            return;
        }
        file_ = path_;
        setState(TAVUpdateState::Kind::readyToInstall);
    };
    connect(dpkg, &QProcess::finished, this, inspected);
    connect(dpkg, &QProcess::errorOccurred, this, inspected);  // one that never started
    dpkg->start(QStringLiteral("dpkg-deb"),
                {QStringLiteral("--field"), path_, QStringLiteral("Package")});
}

void UpdateDelivery::downloadFailed(const QString& message) {
    setState(TAVUpdateState::Kind::failed,
             TAVUpdateError{TAVUpdateError::Kind::updateDownloadFailed, message.toStdString()});
}

void UpdateDelivery::installEnded(PackageKitInstaller::Result result) {
    using Kind = TAVUpdateState::Kind;
    if (std::holds_alternative<PackageKitInstaller::Installed>(result)) {
        installed_ = true;
        QFile::remove(file_);
        file_.clear();
        setState(Kind::idle);
    } else if (auto* unavailable = std::get_if<PackageKitInstaller::Unavailable>(&result)) {
        setState(Kind::failed, TAVUpdateError{TAVUpdateError::Kind::updateInstallFailed,
                                              unavailable->reason.toStdString()});
    } else {
        QFile::remove(file_);
        file_.clear();
        setState(
            Kind::failed,
            TAVUpdateError{TAVUpdateError::Kind::updateInstallFailed,
                           std::get<PackageKitInstaller::Failed>(result).message.toStdString()});
    }
}

void UpdateDelivery::setState(TAVUpdateState::Kind kind, std::optional<TAVUpdateError> error) {
    const bool carriesVersion = kind != TAVUpdateState::Kind::idle && !error;
    state_ =
        TAVUpdateState{kind, carriesVersion ? std::optional(version_.toStdString()) : std::nullopt,
                       std::nullopt, std::move(error)};
    emit changed();
}

}  // namespace halvo
