#include "state/settings_defaults_store.h"

#include <QByteArray>
#include <QSettings>
#include <QStringDecoder>
#include <QVariant>

namespace halvo {
namespace {

QString keyOf(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

std::optional<QString> utf8Text(const std::string& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes.data(), bytes.size()));
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

SettingsDefaultsStore::SettingsDefaultsStore()
    : settings_(std::make_unique<QSettings>(QStringLiteral("tavlabs"), QStringLiteral("halvo"))) {}

SettingsDefaultsStore::SettingsDefaultsStore(const QString& iniFile)
    : settings_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

SettingsDefaultsStore::~SettingsDefaultsStore() = default;

std::optional<std::string> SettingsDefaultsStore::value(std::string_view key) const {
    const QVariant stored = settings_->value(keyOf(key));
    if (!stored.isValid()) {
        return std::nullopt;
    }
    if (stored.typeId() == QMetaType::QByteArray) {
        return stored.toByteArray().toStdString();
    }
    if (!stored.canConvert<QString>()) {
        return std::nullopt;
    }
    return stored.toString().toStdString();
}

void SettingsDefaultsStore::setValue(std::string_view key, const std::string& value) {
    if (std::optional<QString> text = utf8Text(value)) {
        settings_->setValue(keyOf(key), *text);
    } else {
        settings_->setValue(keyOf(key),
                            QByteArray(value.data(), static_cast<qsizetype>(value.size())));
    }
}

void SettingsDefaultsStore::removeValue(std::string_view key) {
    settings_->remove(keyOf(key));
}

void SettingsDefaultsStore::sync() {
    settings_->sync();
}

}  // namespace halvo
