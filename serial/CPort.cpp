#include "CPort.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <utility>

#include "CPortThread.h"
#include "ComError.h"
#include "MemoryLine.h"
#include "NetworkDevice.h"
#include "PortMap.h"
#include "TermiosDevice.h"

namespace {

constexpr const char* kErrorTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string WithCode(int errorNumber, int systemError) {
  char code[48];
  std::snprintf(code, sizeof code, " (win error code: %d)", systemError);
  return EComPort::Text(errorNumber) + code;
}

constexpr TComEvent kDispatchOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                        evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

// A closed port has no device; its calls fail as on an invalid handle.
constexpr int kNoDevice = EBADF;

std::int32_t ToInt32(std::size_t n) {
  return n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())
             ? std::numeric_limits<std::int32_t>::max()
             : static_cast<std::int32_t>(n);
}

}  // namespace

// ---- errors ----

EComPort::EComPort(int errorNumber, int systemError)
    : std::runtime_error(WithCode(errorNumber, systemError)),
      errorNumber_(errorNumber),
      systemError_(systemError) {}

EComPort::EComPort(int errorNumber)
    : std::runtime_error(Text(errorNumber)), errorNumber_(errorNumber), systemError_(-1) {}

EComPort::EComPort(int errorNumber, int systemError, const std::string& hint)
    : std::runtime_error(WithCode(errorNumber, systemError) + hint),
      errorNumber_(errorNumber),
      systemError_(systemError) {}

EComPort::EComPort(int errorNumber, const std::string& hint)
    : std::runtime_error(Text(errorNumber) + hint), errorNumber_(errorNumber), systemError_(-1) {}

std::string EComPort::Text(int errorNumber) {
  if (errorNumber < 1 || errorNumber > static_cast<int>(std::size(kErrorTexts))) return {};
  return kErrorTexts[errorNumber - 1];
}

void kvel::RaiseComError(int errorNumber, int code, const std::string& devicePath) {
  if (!devicePath.empty()) {
    const std::string hint = OpenFailureHint(code, devicePath);
    if (!hint.empty()) throw EComPort(errorNumber, code, hint);
  } else if (IsDeviceGone(code)) {
    // Said in words: the number alone reads like a code of another system.
    throw EComPort(errorNumber, code, " - the device has gone (adapter unplugged?)");
  }
  throw EComPort(errorNumber, code);
}

void kvel::RaiseComError(int errorNumber, int code, const SerialDevice& device) {
  const std::string detail = device.FailureDetail();
  if (!detail.empty() && !IsDeviceGone(code)) throw EComPort(errorNumber, code, " - " + detail);
  RaiseComError(errorNumber, code);
}

bool kvel::IsDeviceGone(int code) {
  return code == EIO || code == ENXIO || code == ENODEV;
}

// ---- settings sub-objects ----

void TComParity::Changed() {
  if (owner_ != nullptr) owner_->ApplyLineSettings();
}

void TComFlowControl::Changed() {
  if (owner_ != nullptr) owner_->ApplyLineSettings();
}

TFlowControl TComFlowControl::FlowControl() const {
  if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcHardware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    controlRTS_ = rtsDisable;
    outCTSFlow_ = false;
    xonXoffIn_ = false;
    xonXoffOut_ = false;
    if (value == fcHardware) {
      controlRTS_ = rtsHandshake;
      outCTSFlow_ = true;
    } else if (value == fcSoftware) {
      xonXoffIn_ = true;
      xonXoffOut_ = true;
    }
  }
  Changed();
}

void TComTimeouts::Changed() {
  if (owner_ != nullptr) owner_->ApplyTimeoutSettings();
}

void TComBuffer::Changed() {
  if (owner_ != nullptr) owner_->ApplyBufferSizes();
}

// Driver queues have even sizes.
static std::int32_t EvenSize(std::int32_t value) {
  return value > 0 && value % 2 == 1 ? value - 1 : value;
}

void TComBuffer::SetInputSize(std::int32_t value) {
  Set(inputSize_, EvenSize(value));
}
void TComBuffer::SetOutputSize(std::int32_t value) {
  Set(outputSize_, EvenSize(value));
}

// ---- the port ----

struct TCustomComPort::TransferRecord {
  TransferKind kind = TransferKind::WriteTransfer;
  std::vector<std::uint8_t> data;  // the bytes being written
  std::size_t count = 0;           // bytes transferred
};

TCustomComPort::TCustomComPort() {
  buffer_.owner_ = this;
  parity_.owner_ = this;
  timeouts_.owner_ = this;
  flowControl_.owner_ = this;
}

TCustomComPort::~TCustomComPort() {
  // A destructor cannot report: a close that fails (or a handler that raises) still
  // releases the device.
  try {
    ClosePort();
  } catch (...) {
  }
  eventThread_.reset();
  device_.reset();
  const auto notices = std::move(freeNotices_);
  for (const auto& notice : notices) notice.second();
}

void TCustomComPort::FreeNotification(const void* who, std::function<void()> notice) {
  RemoveFreeNotification(who);
  freeNotices_.emplace_back(who, std::move(notice));
}

void TCustomComPort::RemoveFreeNotification(const void* who) {
  std::erase_if(freeNotices_, [who](const auto& notice) { return notice.first == who; });
}

void TCustomComPort::SetInputNotice(std::size_t level, std::function<void()> notice) {
  if (level == 0) notice = {};
  inputNoticeLevel_ = notice ? level : 0;
  inputNotice_ = std::move(notice);
  if (device_ != nullptr) device_->SetInputNotice(inputNoticeLevel_, inputNotice_);
}

bool TCustomComPort::CanApply() const {
  return connected_ && device_ != nullptr && settingsChangeCount_ == 0 && !loading_ && !designing_;
}

kvel::Dcb TCustomComPort::LineSettingsRecord() const {
  kvel::Dcb dcb;
  dcb.baudRate = static_cast<std::uint32_t>(baudRate_ == brCustom ? customBaudRate_
                                                                  : BaudRateValue(baudRate_));
  std::uint32_t flags = kvel::kDcbBinary;
  if (parity_.Check()) flags |= kvel::kDcbParity;
  if (flowControl_.OutCTSFlow()) flags |= kvel::kDcbOutxCtsFlow;
  if (flowControl_.OutDSRFlow()) flags |= kvel::kDcbOutxDsrFlow;
  flags |= static_cast<std::uint32_t>(flowControl_.ControlDTR()) << 4;
  if (flowControl_.DSRSensitivity()) flags |= kvel::kDcbDsrSensitivity;
  if (flowControl_.TxContinueOnXoff()) flags |= kvel::kDcbTxContinueOnXoff;
  if (flowControl_.XonXoffOut()) flags |= kvel::kDcbOutX;
  if (flowControl_.XonXoffIn()) flags |= kvel::kDcbInX;
  const bool errorChar = parity_.Check() && parity_.Replace();
  if (errorChar) flags |= kvel::kDcbErrorChar;
  if (discardNull_) flags |= kvel::kDcbNull;
  flags |= static_cast<std::uint32_t>(flowControl_.ControlRTS()) << 12;
  dcb.flags = flags;
  const auto limit = static_cast<std::uint16_t>(buffer_.InputSize() / 4);
  dcb.xonLim = limit;
  dcb.xoffLim = limit;
  dcb.byteSize = static_cast<std::uint8_t>(5 + static_cast<int>(dataBits_));
  dcb.parity = static_cast<std::uint8_t>(parity_.Bits());
  dcb.stopBits = static_cast<std::uint8_t>(stopBits_);
  dcb.xonChar = flowControl_.XonChar();
  dcb.xoffChar = flowControl_.XoffChar();
  dcb.errorChar = errorChar ? parity_.ReplaceChar() : 0;
  dcb.eofChar = 0;
  dcb.evtChar = eventChar_;
  return dcb;
}

void TCustomComPort::ApplyLineSettings() {
  if (!CanApply()) return;
  if (const int rc = device_->SetCommState(LineSettingsRecord()); rc != 0)
    kvel::RaiseComError(7, rc, *device_);
  dtrState_ = flowControl_.ControlDTR() == dtrEnable;
  rtsState_ = flowControl_.ControlRTS() == rtsEnable;
}

void TCustomComPort::ApplyTimeoutSettings() {
  if (!CanApply()) return;
  kvel::CommTimeouts t;
  t.readInterval = static_cast<std::uint32_t>(timeouts_.ReadInterval());
  t.readTotalMultiplier = static_cast<std::uint32_t>(timeouts_.ReadTotalMultiplier());
  t.readTotalConstant = static_cast<std::uint32_t>(timeouts_.ReadTotalConstant());
  t.writeTotalMultiplier = static_cast<std::uint32_t>(timeouts_.WriteTotalMultiplier());
  t.writeTotalConstant = static_cast<std::uint32_t>(timeouts_.WriteTotalConstant());
  if (const int rc = device_->SetCommTimeouts(t); rc != 0) kvel::RaiseComError(8, rc);
}

void TCustomComPort::ApplyBufferSizes() {
  if (!CanApply()) return;
  if (const int rc = device_->SetupComm(static_cast<std::uint32_t>(buffer_.InputSize()),
                                        static_cast<std::uint32_t>(buffer_.OutputSize()));
      rc != 0)
    kvel::RaiseComError(9, rc);
}

void TCustomComPort::ApplyAllSettings() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

void TCustomComPort::BeginSettingsChange() {
  ++settingsChangeCount_;
}

void TCustomComPort::EndSettingsChange() {
  if (settingsChangeCount_ < 1) return;
  if (--settingsChangeCount_ == 0) ApplyAllSettings();
}

void TCustomComPort::OpenDevice() {
  devicePath_.clear();
  const std::string lineName = reopenPath_.empty() ? port_ : reopenPath_;
  if (auto line = kvel::FindMemoryLine(lineName)) {
    devicePath_ = lineName;
    if (const int rc = line->Open(&device_); rc != 0) kvel::RaiseComError(1, rc);
    return;
  }
  std::string path = reopenPath_;
  if (path.empty()) {
    if (const int rc = kvel::ResolvePortDevice(kvel::PortMapSources::System(), port_, &path);
        rc != 0)
      kvel::RaiseComError(1, rc);
  }
  devicePath_ = path;
  if (path.empty()) {
    throw EComPort(1, ENOENT,
                   " - no serial device is known as " + port_ +
                       " (plug in the adapter, or name it with KVEL_" + port_ +
                       "=/dev/... or in ~/.config/kvel/ports.map)");
  }
  if (kvel::IsNetworkPortName(path)) {
    std::string detail;
    kvel::NetworkTimeouts limits;
    if (reopenConnectMs_ > 0) limits.connectMs = reopenConnectMs_;
    const int connected = std::exchange(reopenSocket_, -1);
    if (const int rc = kvel::NetworkDevice::Open(path, &device_, &detail, limits, connected);
        rc != 0)
      throw EComPort(1, rc, " - " + detail);
    return;
  }
  std::string lockNote;
  if (const int rc = kvel::TermiosDevice::Open(path, &device_, &lockNote); rc != 0) {
    const std::string also = lockNote.empty() ? "" : "; " + lockNote;
    // Say plainly what an engineer in the field can act on.
    if (rc == EBUSY || rc == EWOULDBLOCK)
      throw EComPort(1, rc, " - " + path + " is in use by another program" + also);
    std::string hint = kvel::OpenFailureHint(rc, path);
    if (!lockNote.empty()) hint += hint.empty() ? " - " + lockNote : also;
    if (hint.empty()) throw EComPort(1, rc);
    throw EComPort(1, rc, hint);
  }
}

void TCustomComPort::ReopenOn(const std::string& devicePath, int connectMs, int connected) {
  if (connected_ || designing_) {
    if (connected >= 0) ::close(connected);
    return;
  }
  struct Reset {
    TCustomComPort& port;
    ~Reset() {
      port.reopenPath_.clear();
      port.reopenConnectMs_ = 0;
      if (port.reopenSocket_ >= 0) ::close(port.reopenSocket_);
      port.reopenSocket_ = -1;
    }
  } reset{*this};
  reopenPath_ = devicePath;
  reopenConnectMs_ = connectMs;
  reopenSocket_ = connected;
  OpenPort();
}

void TCustomComPort::CloseDevice() {
  device_.reset();
}

void TCustomComPort::OpenPort() {
  if (connected_ || designing_) return;
  DoBeforeOpen();
  OpenDevice();
  if (inputNotice_) device_->SetInputNotice(inputNoticeLevel_, inputNotice_);
  connected_ = true;
  try {
    ApplyAllSettings();
  } catch (...) {
    CloseDevice();
    connected_ = false;
    throw;
  }
  ++session_;
  // Errors are told from the open on: what the driver counted before belongs to others.
  errorTally_ = {};
  errorReadings_ = errorReadingsTold_ = 0;
  countersAtOpenValid_ = device_->GetLineCounters(&countersAtOpen_) == 0;
  if (!events_.Empty()) {
    if (syncMethod_ == smWindowSync) eventWindow_ = true;
    StartEventThread();
    eventThreadCreated_ = true;
  }
  CallLinks(&TComLink::ConnectionSignal, true);
  DoAfterOpen();
  ReportSignalsOn();
}

void TCustomComPort::ClosePort() {
  if (!connected_ || designing_) return;
  ReportSignalsOff();
  DoBeforeClose();
  if (device_ != nullptr) {
    const int rc = device_->Purge(kvel::kPurgeTxAbort | kvel::kPurgeRxAbort);
    // A device that has gone has nothing left to abort; the close must still release it.
    if (rc != 0 && !kvel::IsDeviceGone(rc)) kvel::RaiseComError(5, rc);
  }
  if (eventThreadCreated_) {
    StopEventThread();
    eventThreadCreated_ = false;
    eventWindow_ = false;
  }
  CloseDevice();
  connected_ = false;
  CallLinks(&TComLink::ConnectionSignal, false);
  DoAfterClose();
}

// ---- line events ----

void TCustomComPort::StartEventThread() {
  eventThread_ = std::make_unique<kvel::TComThread>(*this, *device_, WaitMask());
}

void TCustomComPort::StopEventThread() {
  eventThread_.reset();
}

TComEvents TCustomComPort::BoundEvents() const {
  TComEvents bound;
  const auto heard = [&bound](TComEvent event, bool by) {
    if (by) bound.Insert(event);
  };
  const bool links = hasLinks_;
  heard(evError, static_cast<bool>(OnError));
  heard(evRxChar, links || OnRxChar || OnRxBuf);
  heard(evTxEmpty, links || OnTxEmpty);
  heard(evBreak, static_cast<bool>(OnBreak));
  heard(evRing, links || OnRing);
  heard(evCTS, links || OnCTSChange);
  heard(evDSR, links || OnDSRChange);
  heard(evRxFlag, links || OnRxFlag);
  heard(evRLSD, links || OnRLSDChange);
  heard(evRx80Full, static_cast<bool>(OnRx80Full));
  return bound;
}

bool TCustomComPort::HasBoundEvents() const {
  return !BoundEvents().Empty();
}

std::uint32_t TCustomComPort::WaitMask() const {
  return kvel::EventSetToMask(events_.Bits() & BoundEvents().Bits());
}

void TCustomComPort::EventBindingChanged() {
  if (eventThread_ != nullptr) eventThread_->SetWaitMask(WaitMask());
}

void kvel::LineHandlersChanged(TCustomComPort& port) {
  port.EventBindingChanged();
}

void TCustomComPort::DispatchEvents(TComEvents events, const std::atomic<bool>& stop) {
  // An event that nobody hears is not handed over: a received byte stays for the owner's
  // own reads, which also take the error word and tally its losses for the error handler.
  // The thread waits for heard events only; a batch may still hold others that came
  // before a handler was cleared.
  if (!HasBoundEvents()) return;
  events = TComEvents::FromBits(events.Bits() & BoundEvents().Bits());
  if (events.Empty()) return;
  const std::uint64_t session = session_;
  switch (syncMethod_) {
    case smThreadSync:
      kvel::Synchronize([this, events, session] { RunEventHandlers(events, session); },
                        kvel::SyncWait::kUntilDone, &stop);
      break;
    case smWindowSync:
      // One message per event; the window lets the thread go on before it handles it.
      for (const TComEvent event : kDispatchOrder) {
        if (!events.Contains(event)) continue;
        kvel::Synchronize([this, event, session] { RunEventHandlers({event}, session); },
                          kvel::SyncWait::kUntilTaken, &stop);
        if (stop) break;
      }
      break;
    case smNone:
      try {
        RunEventHandlers(events, session);
      } catch (...) {
        // No handler runs on this thread to show it: the GUI thread shows it.
        kvel::PostToGuiThread(
            [error = std::current_exception()] { std::rethrow_exception(error); });
      }
      break;
  }
}

void TCustomComPort::RunEventHandlers(TComEvents events, std::uint64_t session) {
  for (const TComEvent event : kDispatchOrder) {
    if (!events.Contains(event)) continue;
    // A handler may have closed (or closed and reopened) the port: the rest of the batch
    // belonged to the device that was.
    if (!connected_ || session != session_) return;
    try {
      RunEventHandler(event);
    } catch (const EComPort& e) {
      // A device that has gone fails every status read; the thread ends at its next wait
      // and the owner learns of the loss from its own calls, once.
      if (kvel::IsDeviceGone(e.SystemError())) return;
      throw;
    }
  }
}

void TCustomComPort::RunEventHandler(TComEvent event) {
  switch (event) {
    case evError: {
      // The receive loop's queue reads clear the error word too: an error it took away
      // before this batch is still told, so no loss on the line passes unnoticed.
      const TComErrors errors = ReadLineErrors();
      if (!errors.Empty() || errorReadings_ != errorReadingsTold_) {
        errorReadingsTold_ = errorReadings_;
        DoError(errors);
      }
      break;
    }
    case evRxChar: {
      std::int32_t n = PendingInput();
      if (n > 0) CallLinks(&TComLink::RxSignal, true);
      if (n > 0 && hasDataLink_) {
        std::vector<std::uint8_t> buffer;
        const std::vector<TComLink*> links = links_;
        for (TComLink* link : links) {
          if (std::find(links_.begin(), links_.end(), link) == links_.end()) continue;
          if (!link->RxBlock) continue;
          if (buffer.empty()) {
            buffer.resize(static_cast<std::size_t>(n));
            ReadBlock(buffer.data(), n);
            DoRxBuf(buffer.data(), n);
          }
          link->RxBlock(*this, buffer.data(), n);
        }
        n = 0;
      }
      if (n > 0) DoRxChar(n);
      break;
    }
    case evTxEmpty:
      CallLinks(&TComLink::TxSignal, false);
      CallLinks(&TComLink::TxEmptyNotice);
      DoTxEmpty();
      break;
    case evBreak:
      DoBreak();
      break;
    case evRing:
      CallLinks(&TComLink::RingNotice);
      DoRing();
      break;
    case evCTS:
      ReportModemLine(msCTS, &TComLink::CTSSignal, &TCustomComPort::DoCTSChange);
      break;
    case evDSR:
      ReportModemLine(msDSR, &TComLink::DSRSignal, &TCustomComPort::DoDSRChange);
      break;
    case evRxFlag:
      CallLinks(&TComLink::RxFlagNotice);
      DoRxFlag();
      break;
    case evRLSD:
      ReportModemLine(msRLSD, &TComLink::RLSDSignal, &TCustomComPort::DoRLSDChange);
      break;
    case evRx80Full:
      DoRx80Full();
      break;
  }
}

void TCustomComPort::ReportModemLine(TModemSignal line, TComSignalEvent TComLink::*slot,
                                     void (TCustomComPort::*handler)(bool)) {
  const bool on = ReadModemSignals().Contains(line);
  CallLinks(slot, on);
  (this->*handler)(on);
}

void TCustomComPort::ReportSignalsOn() {
  ReportModemLine(msCTS, &TComLink::CTSSignal, &TCustomComPort::DoCTSChange);
  ReportModemLine(msDSR, &TComLink::DSRSignal, &TCustomComPort::DoDSRChange);
  ReportModemLine(msRLSD, &TComLink::RLSDSignal, &TCustomComPort::DoRLSDChange);
}

void TCustomComPort::ReportSignalsOff() {
  CallLinks(&TComLink::CTSSignal, false);
  CallLinks(&TComLink::DSRSignal, false);
  CallLinks(&TComLink::RLSDSignal, false);
  DoCTSChange(false);
  DoDSRChange(false);
  DoRLSDChange(false);
}

void TCustomComPort::RaiseNoDevice(int errorNumber) const {
  if (absenceNote_.empty()) kvel::RaiseComError(errorNumber, kNoDevice);
  throw EComPort(errorNumber, kNoDevice, " - " + absenceNote_);
}

std::int32_t TCustomComPort::SendText(const std::string& text) {
  TransferRecord record;
  if (!text.empty()) {
    record.kind = TransferKind::WriteTransfer;
    record.data.assign(text.begin(), text.end());
    if (device_ == nullptr) RaiseNoDevice(2);
    if (const int rc = device_->Write(record.data.data(), record.data.size(), &record.count);
        rc != 0)
      kvel::RaiseComError(2, rc);
    CallLinks(&TComLink::TxSignal, true);
    CallLinks(&TComLink::TxBlock, static_cast<const std::uint8_t*>(record.data.data()),
              ToInt32(record.data.size()));
  }
  return ToInt32(record.count);
}

std::int32_t TCustomComPort::Read(std::uint8_t* data, std::int32_t count) {
  if (count <= 0) return 0;
  TransferRecord record;
  record.kind = TransferKind::ReadTransfer;
  if (device_ == nullptr) RaiseNoDevice(3);
  if (const int rc = device_->Read(data, static_cast<std::size_t>(count), &record.count); rc != 0)
    kvel::RaiseComError(3, rc);
  // Only links learn that the queue ran empty; without any, asking would needlessly
  // clear the device's error flags.
  if (!links_.empty() && PendingInput() == 0) CallLinks(&TComLink::RxSignal, false);
  return ToInt32(record.count);
}

std::int32_t TCustomComPort::ReceiveText(std::string& text, std::int32_t count) {
  if (count <= 0) {
    text.clear();
    return 0;
  }
  text.resize(static_cast<std::size_t>(count));
  std::int32_t n = 0;
  try {
    n = Read(reinterpret_cast<std::uint8_t*>(text.data()), count);
  } catch (...) {
    text.clear();
    throw;
  }
  text.resize(static_cast<std::size_t>(n));
  return n;
}

std::int32_t TCustomComPort::ReadBlock(void* buffer, std::int32_t count) {
  return Read(static_cast<std::uint8_t*>(buffer), count);
}

std::int32_t TCustomComPort::PendingInput() {
  if (device_ == nullptr) RaiseNoDevice(10);
  std::uint32_t errors = 0;
  kvel::ComStat stat;
  if (const int rc = device_->ClearCommError(&errors, &stat); rc != 0) kvel::RaiseComError(10, rc);
  TallyErrors(errors);
  return ToInt32(stat.inQue);
}

void TCustomComPort::PurgeBuffers(bool input, bool output) {
  std::uint32_t flags = 0;
  if (input) flags |= kvel::kPurgeRxClear;
  if (output) flags |= kvel::kPurgeTxClear;
  if (device_ == nullptr) RaiseNoDevice(5);
  if (const int rc = device_->Purge(flags); rc != 0) kvel::RaiseComError(5, rc);
}

TModemSignals TCustomComPort::ReadModemSignals() {
  if (device_ == nullptr) RaiseNoDevice(11);
  std::uint32_t status = 0;
  if (const int rc = device_->GetModemStatus(&status); rc != 0) kvel::RaiseComError(11, rc);
  TModemSignals signals;
  if ((status & kvel::kMsCtsOn) != 0) signals.Insert(msCTS);
  if ((status & kvel::kMsDsrOn) != 0) signals.Insert(msDSR);
  if ((status & kvel::kMsRingOn) != 0) signals.Insert(msRing);
  if ((status & kvel::kMsRlsdOn) != 0) signals.Insert(msRLSD);
  return signals;
}

TComErrors TCustomComPort::ReadLineErrors() {
  if (device_ == nullptr) RaiseNoDevice(10);
  std::uint32_t word = 0;
  kvel::ComStat stat;
  if (const int rc = device_->ClearCommError(&word, &stat); rc != 0) kvel::RaiseComError(10, rc);
  TallyErrors(word);
  TComErrors errors;
  if ((word & kvel::kCeFrame) != 0) errors.Insert(erFrame);
  if ((word & kvel::kCeRxParity) != 0 && parity_.Check()) errors.Insert(erRxParity);
  if ((word & kvel::kCeOverrun) != 0) errors.Insert(erOverrun);
  if ((word & kvel::kCeBreak) != 0) errors.Insert(erBreak);
  if ((word & kvel::kCeIoe) != 0) errors.Insert(erIO);
  if ((word & kvel::kCeMode) != 0) errors.Insert(erMode);
  if ((word & kvel::kCeRxOver) != 0) errors.Insert(erRxOver);
  if ((word & kvel::kCeTxFull) != 0) errors.Insert(erTxFull);
  return errors;
}

void TCustomComPort::SetDTR(bool on) {
  if (device_ == nullptr) RaiseNoDevice(12);
  if (const int rc = device_->SetDtr(on); rc != 0) kvel::RaiseComError(12, rc, *device_);
  dtrState_ = on;
}

void TCustomComPort::SetRTS(bool on) {
  if (device_ == nullptr) RaiseNoDevice(12);
  if (const int rc = device_->SetRts(on); rc != 0) kvel::RaiseComError(12, rc, *device_);
  rtsState_ = on;
}

void TCustomComPort::SetBreak(bool on) {
  if (device_ == nullptr) RaiseNoDevice(12);
  if (const int rc = device_->SetBreak(on); rc != 0) kvel::RaiseComError(12, rc, *device_);
}

bool TCustomComPort::ReadLineCounters(kvel::LineCounters* counters) {
  if (device_ == nullptr) RaiseNoDevice(10);
  const int rc = device_->GetLineCounters(counters);
  if (rc == ENOTSUP) return false;
  if (rc != 0) kvel::RaiseComError(10, rc);
  return true;
}

void TCustomComPort::TallyErrors(std::uint32_t word) {
  constexpr std::uint32_t kLoss =
      kvel::kCeOverrun | kvel::kCeFrame | kvel::kCeRxParity | kvel::kCeRxOver;
  if ((word & kLoss) == 0) return;
  ++errorReadings_;
  if ((word & kvel::kCeOverrun) != 0) ++errorTally_.overrun;
  if ((word & kvel::kCeFrame) != 0) ++errorTally_.frame;
  if ((word & kvel::kCeRxParity) != 0) ++errorTally_.parity;
  if ((word & kvel::kCeRxOver) != 0) ++errorTally_.bufferOverrun;
}

kvel::LineCounters TCustomComPort::LineErrorCounts(bool* counted) {
  kvel::LineCounters now;
  const bool driverCounts =
      countersAtOpenValid_ && device_ != nullptr && device_->GetLineCounters(&now) == 0;
  if (counted != nullptr) *counted = driverCounts;
  if (!driverCounts) return errorTally_;
  // An error the device flagged without its driver counting it (the program's own receive
  // queue overflowing, a marked byte) still counts: never less than the readings named.
  const auto since = [](std::uint32_t count, std::uint32_t atOpen, std::uint32_t readings) {
    return std::max(count - atOpen, readings);
  };
  kvel::LineCounters result;
  result.overrun = since(now.overrun, countersAtOpen_.overrun, errorTally_.overrun);
  result.frame = since(now.frame, countersAtOpen_.frame, errorTally_.frame);
  result.parity = since(now.parity, countersAtOpen_.parity, errorTally_.parity);
  result.brk = now.brk - countersAtOpen_.brk;
  result.bufferOverrun =
      since(now.bufferOverrun, countersAtOpen_.bufferOverrun, errorTally_.bufferOverrun);
  return result;
}

void TCustomComPort::AttachLink(TComLink* link) {
  if (link == nullptr || std::find(links_.begin(), links_.end(), link) != links_.end())
    throw EComPort(18);
  links_.push_back(link);
  RecomputeHasDataLink();
  EventBindingChanged();
}

void TCustomComPort::DetachLink(TComLink* link) {
  const auto it = std::find(links_.begin(), links_.end(), link);
  if (it == links_.end()) throw EComPort(18);
  links_.erase(it);
  RecomputeHasDataLink();
  EventBindingChanged();
}

void TCustomComPort::RecomputeHasDataLink() {
  hasLinks_ = !links_.empty();
  hasDataLink_ = false;
  for (const TComLink* link : links_) {
    if (link->RxBlock) hasDataLink_ = true;
  }
}

// ---- properties ----

void TCustomComPort::SetConnected(bool value) {
  if (loading_ || designing_) {
    connected_ = value;
    return;
  }
  if (value == connected_) return;
  if (value) {
    OpenPort();
  } else {
    ClosePort();
  }
}

void TCustomComPort::Loaded() {
  loading_ = false;
  if (connected_ && !designing_) {
    connected_ = false;
    OpenPort();
  }
}

void TCustomComPort::SetPort(const std::string& value) {
  if (value == port_) return;
  port_ = value;
  if (connected_ && !loading_ && !designing_) {
    ClosePort();
    OpenPort();
  }
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == syncMethod_) return;
  if (connected_ && !loading_ && !designing_) throw EComPort(14);
  syncMethod_ = value;
}

void TCustomComPort::SetParity(const TComParity& value) {
  parity_ = value;
  ApplyLineSettings();
}
void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  flowControl_ = value;
  ApplyLineSettings();
}
void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  timeouts_ = value;
  ApplyTimeoutSettings();
}
void TCustomComPort::SetBuffer(const TComBuffer& value) {
  buffer_ = value;
  ApplyBufferSizes();
}

// ---- event raisers ----

void TCustomComPort::DoAfterClose() {
  if (OnAfterClose) OnAfterClose(*this);
}
void TCustomComPort::DoAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(*this);
}
void TCustomComPort::DoBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(*this);
}
void TCustomComPort::DoBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(*this);
}
void TCustomComPort::DoRxChar(std::int32_t count) {
  if (OnRxChar) OnRxChar(*this, count);
}
void TCustomComPort::DoRxBuf(const std::uint8_t* buffer, std::int32_t count) {
  if (OnRxBuf) OnRxBuf(*this, buffer, count);
}
void TCustomComPort::DoTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(*this);
}
void TCustomComPort::DoBreak() {
  if (OnBreak) OnBreak(*this);
}
void TCustomComPort::DoRing() {
  if (OnRing) OnRing(*this);
}
void TCustomComPort::DoRxFlag() {
  if (OnRxFlag) OnRxFlag(*this);
}
void TCustomComPort::DoCTSChange(bool onOff) {
  if (OnCTSChange) OnCTSChange(*this, onOff);
}
void TCustomComPort::DoDSRChange(bool onOff) {
  if (OnDSRChange) OnDSRChange(*this, onOff);
}
void TCustomComPort::DoError(TComErrors errors) {
  if (OnError) OnError(*this, errors);
}
void TCustomComPort::DoRLSDChange(bool onOff) {
  if (OnRLSDChange) OnRLSDChange(*this, onOff);
}
void TCustomComPort::DoRx80Full() {
  if (OnRx80Full) OnRx80Full(*this);
}
