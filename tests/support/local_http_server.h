#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

// A small web site on 127.0.0.1 for tests: serves fixed pages by path and
// remembers which paths were asked for. Lives on the test's thread.
class LocalHttpServer : public QObject {
public:
    LocalHttpServer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
    }

    void setPage(const QByteArray& path, const QByteArray& body, const QByteArray& type = "text/html")
    {
        pages_.insert(path, {body, type});
    }

    QString hostAndPort() const { return QStringLiteral("127.0.0.1:%1").arg(server_.serverPort()); }
    QStringList requestedPaths() const { return requested_; }

private:
    struct Page {
        QByteArray body;
        QByteArray type;
    };

    void accept()
    {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void answer(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        buffers_.remove(socket);
        const QByteArray path = requestLine.size() > 1 ? requestLine[1] : QByteArray("/");
        requested_ << QString::fromLatin1(path);
        const auto page = pages_.constFind(path);
        QByteArray reply;
        if (page == pages_.constEnd()) {
            reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        } else {
            reply = "HTTP/1.1 200 OK\r\nContent-Type: " + page->type + "\r\nContent-Length: " +
                    QByteArray::number(page->body.size()) + "\r\nConnection: close\r\n\r\n" + page->body;
        }
        socket->write(reply);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QByteArray, Page> pages_;
    QHash<QTcpSocket*, QByteArray> buffers_;
    QStringList requested_;
};
