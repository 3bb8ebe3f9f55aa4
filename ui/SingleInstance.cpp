#include "SingleInstance.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <stdexcept>
#include <utility>

#include <unistd.h>

#include "Convert.h"

namespace kvel {
namespace {

constexpr int kTimeoutMs = 2000;
const QByteArray kRaise = QByteArrayLiteral("raise\n");
const QByteArray kRestored = QByteArrayLiteral("restored\n");
const QByteArray kRaised = QByteArrayLiteral("raised\n");

QString ServerName(const std::string& key) {
  return ToQt(key) + u'-' + QString::number(getuid());
}

// Asks the running instance to come forward. A server that accepts the request but
// gives no answer in time is alive but busy (a long wait on its GUI thread): it still
// owns the port and the INI file, so this start counts it as raised and ends rather than
// run beside it.
SingleInstance::Outcome AskRunning(QLocalSocket& socket) {
  socket.write(kRaise);
  QByteArray reply;
  const QDeadlineTimer deadline(kTimeoutMs);
  if (socket.waitForBytesWritten(kTimeoutMs)) {
    while (!reply.contains('\n') && !deadline.hasExpired()) {
      if (socket.bytesAvailable() == 0 &&
          !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
        break;
      }
      reply += socket.readAll();
    }
  }
  socket.abort();
  return reply == kRestored ? SingleInstance::Outcome::OtherRestored
                            : SingleInstance::Outcome::OtherRaised;
}

}  // namespace

SingleInstance::SingleInstance(std::string key) : key_(std::move(key)) {}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
}

void SingleInstance::SetRaiseHandler(std::function<bool()> handler) {
  raise_ = std::move(handler);
}

SingleInstance::Outcome SingleInstance::Acquire() {
  if (server_) return Outcome::First;
  const QString name = ServerName(key_);
  // Two starts at the same moment must not both find no server and both listen (the
  // second would remove the first one's socket); the lock orders them. A lock left by a
  // crashed process is taken over, as QLockFile checks whether its owner still runs.
  QLockFile lock(QDir::tempPath() + u'/' + name + QStringLiteral(".lock"));
  if (!lock.tryLock(3 * kTimeoutMs)) {
    throw std::runtime_error("Cannot take the single-instance lock " +
                             lock.fileName().toStdString());
  }
  QLocalSocket socket;
  socket.connectToServer(name);
  if (socket.waitForConnected(kTimeoutMs)) return AskRunning(socket);
  const QLocalSocket::LocalSocketError error = socket.error();
  if (error != QLocalSocket::ServerNotFoundError && error != QLocalSocket::ConnectionRefusedError) {
    throw std::runtime_error("Cannot reach the running instance: " +
                             socket.errorString().toStdString());
  }
  // Nothing answers: a socket file left behind by a crashed instance would block listen.
  QLocalServer::removeServer(name);
  auto server = std::make_unique<QLocalServer>();
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(name)) {
    throw std::runtime_error("Cannot listen as the running instance: " +
                             server->errorString().toStdString());
  }
  QLocalServer* raw = server.get();
  QObject::connect(raw, &QLocalServer::newConnection, raw, [this, raw] {
    while (QLocalSocket* client = raw->nextPendingConnection()) {
      QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
      QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
        if (!client->canReadLine()) return;
        const QByteArray request = client->readLine();
        if (request != kRaise) {
          client->disconnectFromServer();
          return;
        }
        const bool restored = raise_ ? raise_() : false;
        client->write(restored ? kRestored : kRaised);
        client->disconnectFromServer();
      });
    }
  });
  server_ = std::move(server);
  return Outcome::First;
}

}  // namespace kvel
