// Stand-ins for the settings file and for the desktop's URL handlers.
#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

#include <map>

#include "base/defaults_store.h"

namespace halvo {

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
