// Stand-ins for the settings file and for the desktop's URL handlers.
#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

#include <map>

#include "appkit/defaults.h"

namespace halvo {

struct MemoryDefaults final : TAVDefaults {
    std::optional<std::string> value(std::string_view key) const override {
        auto it = values.find(std::string(key));
        return it == values.end() ? std::nullopt : std::optional(it->second);
    }
    void setValue(std::string_view key, const std::string& v) override {
        values[std::string(key)] = v;
    }
    void removeValue(std::string_view key) override { values.erase(std::string(key)); }
    std::map<std::string, std::string> values;
};

// Records the https and mailto URLs the application asks the desktop to open.
class OpenedUrls final : public QObject {
    Q_OBJECT
  public:
    OpenedUrls() {
        for (const char* scheme : {"https", "mailto"}) {
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
        }
    }
    ~OpenedUrls() override {
        for (const char* scheme : {"https", "mailto"}) {
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        }
    }
    QList<QUrl> urls;

  public slots:
    void open(const QUrl& url) { urls.append(url); }
};

}  // namespace halvo
