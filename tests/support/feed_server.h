// A tiny HTTP server on a loopback port the system picks, answering each path
// with what the test scripted: a body, a redirect, or nothing at all.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace halvo {

class FeedServer final : public QObject {
  public:
    FeedServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
            }
        });
    }

    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
    }
    // A whole response: status line, headers and body.
    void respond(const QString& path, QByteArray response) { responses_[path] = response; }
    void serve(const QString& path, const QByteArray& body) {
        respond(path, "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }

  private:
    void answer(QTcpSocket* socket) {
        const QByteArray request = socket->peek(8192);
        if (!request.contains("\r\n\r\n")) {
            return;
        }
        socket->readAll();
        const QString path = QString::fromLatin1(request.split(' ').value(1));
        // A path without a response is a server that never answers.
        if (responses_.contains(path)) {
            socket->write(responses_[path]);
            socket->disconnectFromHost();
        }
    }

    QTcpServer server_;
    QMap<QString, QByteArray> responses_;
};

}  // namespace halvo
