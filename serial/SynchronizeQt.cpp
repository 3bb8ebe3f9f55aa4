#include "SynchronizeQt.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>

#include "CPortThread.h"

namespace kvel {
namespace {

// One queued call at a time is enough to make the loop run every call waiting; more would
// only be events that find nothing to do.
std::atomic<bool> g_wakePending{false};

void RunQueuedCalls() {
  g_wakePending = false;
  CheckSynchronize();
}

}  // namespace

void InstallAtApplicationStart();

void InstallQtSynchronize() {
  if (QCoreApplication::instance() == nullptr || HasSynchronizeWakeup()) return;
  SetSynchronizeWakeup([] {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || g_wakePending.exchange(true)) return;
    QMetaObject::invokeMethod(app, &RunQueuedCalls, Qt::QueuedConnection);
  });
}

// Every application object this program constructs gets the hook. A call posted to an
// application that has ended never ran, so the next one starts without it.
void InstallAtApplicationStart() {
  g_wakePending = false;
  InstallQtSynchronize();
}

}  // namespace kvel

static void KvelSynchronizeAtApplicationStart() {
  kvel::InstallAtApplicationStart();
}
Q_COREAPP_STARTUP_FUNCTION(KvelSynchronizeAtApplicationStart)
