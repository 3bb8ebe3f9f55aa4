#include "TransferProgress.h"

#include "KVEL_Var.h"
#include "ui/Clock.h"

void TransferProgress::Idle() {
  kvel::ProcessMessages();
}

namespace kvel {

void EngineIdle(TransferProgress& progress) {
  progress.Idle();
  if (progress.Cancelled()) RunFlag = 0;
}

}  // namespace kvel
