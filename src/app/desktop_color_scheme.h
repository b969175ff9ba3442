// The desktop's light or dark preference: the XDG desktop portal's
// org.freedesktop.appearance color-scheme setting, read once and followed
// through its SettingChanged signal. No preference where no portal answers.
#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>

namespace halvo {

enum class ColorScheme { noPreference, dark, light };

class DesktopColorScheme final : public QObject {
    Q_OBJECT
  public:
    explicit DesktopColorScheme(QDBusConnection bus = QDBusConnection::sessionBus(),
                                QObject* parent = nullptr);

    ColorScheme current() const { return current_; }

  signals:
    void changed();

  private slots:
    void onSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

  private:
    void take(QVariant value);

    QDBusConnection bus_;
    ColorScheme current_ = ColorScheme::noPreference;
};

}  // namespace halvo
