#include "NetworkProbe.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

#include "NetworkDevice.h"

namespace kvel {

struct NetworkProbe::State {
  mutable std::mutex mutex;
  bool done = false;
  bool abandoned = false;  // the probe is gone: nobody takes the socket
  int socket = -1;
  int error = 0;
  std::string detail;
};

NetworkProbe::NetworkProbe(const std::string& name, int connectMs)
    : state_(std::make_shared<State>()) {
  NetworkAddress address;
  std::string problem;
  if (!ParseNetworkPortName(name, &address, &problem)) {
    state_->done = true;
    state_->error = EINVAL;
    state_->detail = problem;
    return;
  }
  // The thread owns a share of the state, so that the probe may go before the attempt ends.
  std::thread([state = state_, address, connectMs] {
    int socket = -1;
    std::string detail;
    const int rc = ConnectNetworkAddress(address, connectMs, &socket, &detail);
    std::lock_guard lock(state->mutex);
    if (state->abandoned) {
      if (socket >= 0) ::close(socket);
      return;
    }
    state->done = true;
    state->error = rc;
    state->socket = socket;
    state->detail = detail;
  }).detach();
}

NetworkProbe::~NetworkProbe() {
  std::lock_guard lock(state_->mutex);
  state_->abandoned = true;
  if (state_->socket >= 0) ::close(state_->socket);
  state_->socket = -1;
}

bool NetworkProbe::Done() const {
  std::lock_guard lock(state_->mutex);
  return state_->done;
}

int NetworkProbe::TakeSocket() {
  std::lock_guard lock(state_->mutex);
  const int socket = state_->socket;
  state_->socket = -1;
  return socket;
}

int NetworkProbe::Error() const {
  std::lock_guard lock(state_->mutex);
  return state_->error;
}

std::string NetworkProbe::Detail() const {
  std::lock_guard lock(state_->mutex);
  return state_->detail;
}

}  // namespace kvel
