#include "HttpTestServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace tovix::test {

HttpTestServer::HttpTestServer() {
  listen(QHostAddress::LocalHost);
  connect(this, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* socket = nextPendingConnection()) {
      connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket->property("answered").toBool() || !socket->canReadLine()) return;
        socket->setProperty("answered", true);
        answer(socket);
      });
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
}

QString HttpTestServer::baseAddress() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }

void HttpTestServer::answer(QTcpSocket* socket) {
  const QList<QByteArray> requestLine = socket->readLine().split(' ');
  const QString path = QString::fromLatin1(requestLine.value(1));
  requestedPaths << path;
  const HttpAnswer reply = answers.value(path, HttpAnswer{404, "not here"});
  QTimer::singleShot(reply.delayMs, socket, [socket, reply] {
    const qint64 length = reply.promisedLength >= 0 ? reply.promisedLength : reply.body.size();
    socket->write("HTTP/1.0 " + QByteArray::number(reply.status) + " X\r\nContent-Length: " +
                  QByteArray::number(length) + "\r\nContent-Type: application/octet-stream\r\n\r\n");
    socket->write(reply.body);
    socket->disconnectFromHost();
  });
}

}  // namespace tovix::test
