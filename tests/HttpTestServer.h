#pragma once
// A tiny HTTP/1.0 server on 127.0.0.1 for the update tests: each path gets a
// scripted answer; one can promise more bytes than it sends and hang up.
#include <QByteArray>
#include <QMap>
#include <QTcpServer>

namespace tovix::test {

struct HttpAnswer {
  int status = 200;
  QByteArray body;
  qint64 promisedLength = -1;  // Content-Length to announce; -1 for the body's size
  int delayMs = 0;
};

class HttpTestServer : public QTcpServer {
 public:
  HttpTestServer();
  QString baseAddress() const;
  QMap<QString, HttpAnswer> answers;
  QStringList requestedPaths;

 private:
  void answer(QTcpSocket* socket);
};

}  // namespace tovix::test
