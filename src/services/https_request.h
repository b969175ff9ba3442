// What the feed check and the update's download share of an HTTP exchange:
// redirects are followed to https only, and an answer outside 2xx fails.
#pragma once

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <functional>
#include <optional>

namespace halvo {

// Sends GET `request`, following at most five redirects, each only to an
// https address; `refused` gets any other target (in `context`), and the
// redirect is not followed.
QNetworkReply* getFollowingHttpsOnly(QNetworkAccessManager& network, QNetworkRequest request,
                                     QObject* context,
                                     std::function<void(const QUrl& target)> refused);

// The server's status when it answered outside 2xx: it says more than Qt's
// words for it.
std::optional<int> failedHttpStatus(const QNetworkReply& reply);

}  // namespace halvo
