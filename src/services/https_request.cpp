#include "services/https_request.h"

namespace halvo {

QNetworkReply* getFollowingHttpsOnly(QNetworkAccessManager& network, QNetworkRequest request,
                                     QObject* context,
                                     std::function<void(const QUrl& target)> refused) {
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    QNetworkReply* reply = network.get(request);
    QObject::connect(reply, &QNetworkReply::redirected, context,
                     [reply, refused = std::move(refused)](const QUrl& target) {
                         if (target.scheme() == u"https") {
                             emit reply->redirectAllowed();
                         } else {
                             refused(target);
                         }
                     });
    return reply;
}

std::optional<int> failedHttpStatus(const QNetworkReply& reply) {
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        return status.toInt();
    }
    return std::nullopt;
}

}  // namespace halvo
