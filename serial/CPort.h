#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "SerialDevice.h"

namespace kvel {
class TComThread;

// Where a port's settings are stored: an INI file, read and written by section and key,
// with defaults for missing keys.
class IniStore {
 public:
  virtual ~IniStore() = default;
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) = 0;
  virtual int ReadInteger(const std::string& section, const std::string& key, int defaultValue) = 0;
  virtual void WriteString(const std::string& section, const std::string& key,
                           const std::string& value) = 0;
  virtual void WriteInteger(const std::string& section, const std::string& key, int value) = 0;
};

// ... or an open registry key, by value name: a missing string reads empty, a missing
// integer raises the store's own error.
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;
  virtual std::string ReadString(const std::string& name) = 0;
  virtual int ReadInteger(const std::string& name) = 0;
  virtual void WriteString(const std::string& name, const std::string& value) = 0;
  virtual void WriteInteger(const std::string& name, int value) = 0;
};

// Either store over any object with those member functions (the program's INI file and
// registry key), so this layer needs none of them.
template <typename Ini>
class IniStoreOf final : public IniStore {
 public:
  explicit IniStoreOf(Ini& ini) : ini_(ini) {}
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) override {
    return ini_.ReadString(section, key, defaultValue);
  }
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) override {
    return ini_.ReadInteger(section, key, defaultValue);
  }
  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    ini_.WriteString(section, key, value);
  }
  void WriteInteger(const std::string& section, const std::string& key, int value) override {
    ini_.WriteInteger(section, key, value);
  }

 private:
  Ini& ini_;
};

template <typename Registry>
class RegistryStoreOf final : public RegistryStore {
 public:
  explicit RegistryStoreOf(Registry& registry) : registry_(registry) {}
  std::string ReadString(const std::string& name) override { return registry_.ReadString(name); }
  int ReadInteger(const std::string& name) override { return registry_.ReadInteger(name); }
  void WriteString(const std::string& name, const std::string& value) override {
    registry_.WriteString(name, value);
  }
  void WriteInteger(const std::string& name, int value) override {
    registry_.WriteInteger(name, value);
  }

 private:
  Registry& registry_;
};

}  // namespace kvel

enum TBaudRate {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TComEvent {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full
};
enum TModemSignal { msCTS, msDSR, msRing, msRLSD };
enum TComError { erFrame, erRxParity, erOverrun, erBreak, erIO, erMode, erRxOver, erTxFull };
enum TStoredProp { sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers };

// A small set of enumeration values, one bit per value.
template <typename E>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> values) {
    for (E v : values) Insert(v);
  }
  static constexpr EnumSet FromBits(std::uint32_t bits) {
    EnumSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr void Insert(E v) { bits_ |= Bit(v); }
  constexpr void Erase(E v) { bits_ &= ~Bit(v); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint32_t Bits() const { return bits_; }
  friend constexpr bool operator==(EnumSet a, EnumSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr std::uint32_t Bit(E v) { return 1u << static_cast<unsigned>(v); }
  std::uint32_t bits_ = 0;
};

using TComEvents = EnumSet<TComEvent>;
using TModemSignals = EnumSet<TModemSignal>;
using TComErrors = EnumSet<TComError>;
using TStoredProps = EnumSet<TStoredProp>;

inline constexpr TComEvents kAllComEvents = TComEvents::FromBits(0x3FF);

// The error of the whole serial layer: a fixed number (1..23), the platform code
// (an errno value, -1 when there is none) and the message built from both.
class EComPort : public std::runtime_error {
 public:
  EComPort(int errorNumber, int systemError);
  explicit EComPort(int errorNumber);
  // As with a platform code, followed by an explanation of what the user can do.
  EComPort(int errorNumber, int systemError, const std::string& hint);
  // Without a platform code, followed by what went wrong.
  EComPort(int errorNumber, const std::string& hint);

  int ErrorNumber() const { return errorNumber_; }
  int SystemError() const { return systemError_; }

  // The table text of an error number ("" for a number outside 1..23).
  static std::string Text(int errorNumber);

 private:
  int errorNumber_;
  int systemError_;
};

class TCustomComPort;

using TNotifyEvent = std::function<void(TCustomComPort&)>;
using TRxCharEvent = std::function<void(TCustomComPort&, std::int32_t)>;
using TRxBufEvent = std::function<void(TCustomComPort&, const std::uint8_t*, std::int32_t)>;
using TComSignalEvent = std::function<void(TCustomComPort&, bool)>;
using TComErrorEvent = std::function<void(TCustomComPort&, TComErrors)>;

namespace kvel {

// Tells the port that one of its line-event handlers was assigned or cleared.
void LineHandlersChanged(TCustomComPort& port);

// A line-event handler of the port: holds the handler as a plain function does, and tells
// the port of every assignment, so that its event thread waits only for the events that
// somebody hears.
template <typename Handler>
class LineEventHandler {
 public:
  explicit LineEventHandler(TCustomComPort& owner) : owner_(owner) {}
  LineEventHandler(const LineEventHandler&) = delete;
  LineEventHandler& operator=(const LineEventHandler&) = delete;
  LineEventHandler& operator=(Handler handler) {
    handler_ = std::move(handler);
    LineHandlersChanged(owner_);
    return *this;
  }
  explicit operator bool() const { return static_cast<bool>(handler_); }
  template <typename... Args>
  void operator()(Args&&... args) const {
    handler_(std::forward<Args>(args)...);
  }

 private:
  TCustomComPort& owner_;
  Handler handler_;
};

}  // namespace kvel

// The handler slots a control bound to a port fills in; the port calls them, it never owns them.
class TComLink {
 public:
  TComSignalEvent ConnectionSignal;
  TRxBufEvent RxBlock;
  TRxBufEvent TxBlock;
  TNotifyEvent TxEmptyNotice;
  TNotifyEvent RxFlagNotice;
  TComSignalEvent CTSSignal;
  TComSignalEvent DSRSignal;
  TComSignalEvent RLSDSignal;
  TNotifyEvent RingNotice;
  TComSignalEvent TxSignal;
  TComSignalEvent RxSignal;
};

namespace kvel {

// What the settings objects of a port share: the port they belong to, which a copy keeps
// (copying settings copies their values only), and the store of a setter, which has the port
// apply a changed value. `Settings` names its Changed().
template <typename Settings>
class PortSettings {
 protected:
  PortSettings() = default;
  PortSettings(const PortSettings& /*other*/) {}
  PortSettings& operator=(const PortSettings& /*other*/) { return *this; }
  ~PortSettings() = default;

  template <typename T>
  void Set(T& field, T value) {
    if (field == value) return;
    field = value;
    static_cast<Settings*>(this)->Changed();
  }

  TCustomComPort* owner_ = nullptr;
};

}  // namespace kvel

// Parity settings of a port; a change re-applies the owner's line settings.
class TComParity : public kvel::PortSettings<TComParity> {
 public:
  TParityBits Bits() const { return bits_; }
  void SetBits(TParityBits value) { Set(bits_, value); }
  bool Check() const { return check_; }
  void SetCheck(bool value) { Set(check_, value); }
  bool Replace() const { return replace_; }
  void SetReplace(bool value) { Set(replace_, value); }
  std::uint8_t ReplaceChar() const { return replaceChar_; }
  void SetReplaceChar(std::uint8_t value) { Set(replaceChar_, value); }

 private:
  friend class TCustomComPort;
  friend class kvel::PortSettings<TComParity>;
  void Changed();
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  std::uint8_t replaceChar_ = 0;
};

// Flow-control settings of a port; a change re-applies the owner's line settings.
class TComFlowControl : public kvel::PortSettings<TComFlowControl> {
 public:
  bool OutCTSFlow() const { return outCTSFlow_; }
  void SetOutCTSFlow(bool value) { Set(outCTSFlow_, value); }
  bool OutDSRFlow() const { return outDSRFlow_; }
  void SetOutDSRFlow(bool value) { Set(outDSRFlow_, value); }
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  void SetControlDTR(TDTRFlowControl value) { Set(controlDTR_, value); }
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  void SetControlRTS(TRTSFlowControl value) { Set(controlRTS_, value); }
  bool XonXoffOut() const { return xonXoffOut_; }
  void SetXonXoffOut(bool value) { Set(xonXoffOut_, value); }
  bool XonXoffIn() const { return xonXoffIn_; }
  void SetXonXoffIn(bool value) { Set(xonXoffIn_, value); }
  bool DSRSensitivity() const { return dsrSensitivity_; }
  void SetDSRSensitivity(bool value) { Set(dsrSensitivity_, value); }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool value) { Set(txContinueOnXoff_, value); }
  std::uint8_t XonChar() const { return xonChar_; }
  void SetXonChar(std::uint8_t value) { Set(xonChar_, value); }
  std::uint8_t XoffChar() const { return xoffChar_; }
  void SetXoffChar(std::uint8_t value) { Set(xoffChar_, value); }
  // The preset derived from RTS control, CTS output flow and XON/XOFF.
  TFlowControl FlowControl() const;
  void SetFlowControl(TFlowControl value);

 private:
  friend class TCustomComPort;
  friend class kvel::PortSettings<TComFlowControl>;
  void Changed();
  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  std::uint8_t xonChar_ = 17;
  std::uint8_t xoffChar_ = 19;
};

// The five transfer timeouts of a port in milliseconds (-1 is the all-ones maximum).
class TComTimeouts : public kvel::PortSettings<TComTimeouts> {
 public:
  std::int32_t ReadInterval() const { return readInterval_; }
  void SetReadInterval(std::int32_t value) { Set(readInterval_, value); }
  std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  void SetReadTotalMultiplier(std::int32_t value) { Set(readTotalMultiplier_, value); }
  std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
  void SetReadTotalConstant(std::int32_t value) { Set(readTotalConstant_, value); }
  std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  void SetWriteTotalMultiplier(std::int32_t value) { Set(writeTotalMultiplier_, value); }
  std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetWriteTotalConstant(std::int32_t value) { Set(writeTotalConstant_, value); }

 private:
  friend class TCustomComPort;
  friend class kvel::PortSettings<TComTimeouts>;
  void Changed();
  std::int32_t readInterval_ = -1;
  std::int32_t readTotalMultiplier_ = 0;
  std::int32_t readTotalConstant_ = 0;
  std::int32_t writeTotalMultiplier_ = 100;
  std::int32_t writeTotalConstant_ = 1000;
};

// The driver's receive and transmit queue sizes of a port.
class TComBuffer : public kvel::PortSettings<TComBuffer> {
 public:
  std::int32_t InputSize() const { return inputSize_; }
  void SetInputSize(std::int32_t value);  // a positive odd size is stored one less
  std::int32_t OutputSize() const { return outputSize_; }
  void SetOutputSize(std::int32_t value);

 private:
  friend class TCustomComPort;
  friend class kvel::PortSettings<TComBuffer>;
  void Changed();
  std::int32_t inputSize_ = 1024;
  std::int32_t outputSize_ = 1024;
};

// The serial port component: the line configuration, open and close, transfers, queue
// counts, purging, modem lines and line errors, over a device named by `Port`.
class TCustomComPort {
 public:
  TCustomComPort();
  virtual ~TCustomComPort();  // closes the port
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  void OpenPort();
  void ClosePort();
  std::int32_t SendText(const std::string& text);
  std::int32_t ReceiveText(std::string& text, std::int32_t count);
  std::int32_t ReadBlock(void* buffer, std::int32_t count);
  std::int32_t PendingInput();
  void PurgeBuffers(bool input, bool output);
  TModemSignals ReadModemSignals();
  TComErrors ReadLineErrors();
  // The DTR and RTS outputs and the break of the open port (EComPort 12 when the device
  // cannot: a plain socket port, a pseudo-terminal). The line settings, applied again, set
  // DTR and RTS as their flow control says.
  void SetDTR(bool on);
  void SetRTS(bool on);
  void SetBreak(bool on);
  // The levels this port last gave DTR and RTS (false while closed).
  bool DTRState() const { return connected_ && dtrState_; }
  bool RTSState() const { return connected_ && rtsState_; }
  // The driver's line counters: false where it keeps none; EComPort 10 when the read fails.
  bool ReadLineCounters(kvel::LineCounters* counters);
  // The line errors of this opening of the port, whoever read the error word: where the
  // driver counts them, its counts since the open; elsewhere one for each reading of the
  // error word that named the kind (and never fewer where the driver counts). `counted`
  // tells which.
  kvel::LineCounters LineErrorCounts(bool* counted = nullptr);
  // Counts the readings of the error word that named an error (of any kind).
  std::uint64_t ErrorReadings() const { return errorReadings_; }
  void BeginSettingsChange();
  void EndSettingsChange();
  void AttachLink(TComLink* link);
  void DetachLink(TComLink* link);

  // The settings of the groups in `StoredGroups`, to and from an INI section named after
  // the component or an open registry key. Loading goes through the setters, so an open
  // port takes each value at once.
  virtual void StoreToRegistry(kvel::RegistryStore& registry);
  virtual void StoreToIniFile(kvel::IniStore& ini);
  virtual void LoadFromRegistry(kvel::RegistryStore& registry);
  virtual void LoadFromIniFile(kvel::IniStore& ini);
  template <typename Registry>
  requires(!std::is_base_of_v<kvel::RegistryStore, Registry>) void StoreToRegistry(
      Registry& registry) {
    kvel::RegistryStoreOf<Registry> store(registry);
    StoreToRegistry(static_cast<kvel::RegistryStore&>(store));
  }
  template <typename Ini>
  requires(!std::is_base_of_v<kvel::IniStore, Ini>) void StoreToIniFile(Ini& ini) {
    kvel::IniStoreOf<Ini> store(ini);
    StoreToIniFile(static_cast<kvel::IniStore&>(store));
  }
  template <typename Registry>
  requires(!std::is_base_of_v<kvel::RegistryStore, Registry>) void LoadFromRegistry(
      Registry& registry) {
    kvel::RegistryStoreOf<Registry> store(registry);
    LoadFromRegistry(static_cast<kvel::RegistryStore&>(store));
  }
  template <typename Ini>
  requires(!std::is_base_of_v<kvel::IniStore, Ini>) void LoadFromIniFile(Ini& ini) {
    kvel::IniStoreOf<Ini> store(ini);
    LoadFromIniFile(static_cast<kvel::IniStore&>(store));
  }

  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  // The device the last opening used or tried: the path it was opened from (a device node
  // or a link to one), a network port, or the port name of an in-memory line; empty when
  // the name maps to no device.
  const std::string& DevicePath() const { return devicePath_; }
  // Opens the port on `devicePath` instead of what its name maps to now, with the settings
  // it has: the same device back after it went away, perhaps under another node. A network
  // port gets `connectMs` to connect (0: the usual time), or takes over `connected`, a socket
  // already connected to its server (closed if the port does not take it).
  void ReopenOn(const std::string& devicePath, int connectMs = 0, int connected = -1);
  // Why the port has no device, in words ("COM1 unplugged: waiting for /dev/ttyUSB0"): said
  // after the error of every call that fails for want of one. Empty: nothing is added.
  void SetAbsenceNote(std::string note) { absenceNote_ = std::move(note); }
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value) { SetLineSetting(baudRate_, value); }
  std::int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(std::int32_t value) { SetLineSetting(customBaudRate_, value); }
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value) { SetLineSetting(dataBits_, value); }
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value) { SetLineSetting(stopBits_, value); }
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value) { SetLineSetting(discardNull_, value); }
  std::uint8_t EventChar() const { return eventChar_; }
  void SetEventChar(std::uint8_t value) { SetLineSetting(eventChar_, value); }
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);
  TStoredProps StoredGroups() const { return storedGroups_; }
  void SetStoredGroups(TStoredProps value) { storedGroups_ = value; }
  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  void SetParity(const TComParity& value);
  TComFlowControl& FlowControl() { return flowControl_; }
  const TComFlowControl& FlowControl() const { return flowControl_; }
  void SetFlowControl(const TComFlowControl& value);
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TComTimeouts& value);
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  void SetBuffer(const TComBuffer& value);

  // Component bookkeeping: the name (the section of stored settings) and the
  // streaming states in which setters only store.
  const std::string& Name() const { return name_; }
  void SetName(const std::string& value) { name_ = value; }
  bool Loading() const { return loading_; }
  void SetLoading(bool value) { loading_ = value; }
  bool Designing() const { return designing_; }
  void SetDesigning(bool value) { designing_ = value; }
  // End of streaming: a port streamed as connected is opened now. An error propagates
  // for the caller to hand to the default error display.
  void Loaded();

  // Asks the device to call `notice` (from a thread of its own) when `level` bytes or more
  // wait in its receive queue; once, until a read takes the queue below the level; and once
  // when the device goes away. Kept across closing and reopening; level 0 or an empty notice
  // removes it, and once that call returns the old notice is not running and is never called
  // again.
  void SetInputNotice(std::size_t level, std::function<void()> notice);
  // Whether the open device keeps that notice (false while closed). A device that fills its
  // queue only when the program looks at it has nothing to tell: its reader must look.
  bool TellsOfInput() const { return device_ != nullptr && device_->TellsOfInput(); }
  // Whoever keeps a pointer to this port hears of its destruction (after its close).
  void FreeNotification(const void* who, std::function<void()> notice);
  void RemoveFreeNotification(const void* who);

  bool HasDataLink() const { return hasDataLink_; }
  const std::vector<TComLink*>& Links() const { return links_; }

  // The line-settings record the current settings make.
  kvel::Dcb LineSettingsRecord() const;

  kvel::LineEventHandler<TRxCharEvent> OnRxChar{*this};
  kvel::LineEventHandler<TRxBufEvent> OnRxBuf{*this};
  kvel::LineEventHandler<TNotifyEvent> OnTxEmpty{*this};
  kvel::LineEventHandler<TNotifyEvent> OnBreak{*this};
  kvel::LineEventHandler<TNotifyEvent> OnRing{*this};
  kvel::LineEventHandler<TComSignalEvent> OnCTSChange{*this};
  kvel::LineEventHandler<TComSignalEvent> OnDSRChange{*this};
  kvel::LineEventHandler<TComSignalEvent> OnRLSDChange{*this};
  kvel::LineEventHandler<TComErrorEvent> OnError{*this};
  kvel::LineEventHandler<TNotifyEvent> OnRxFlag{*this};
  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  kvel::LineEventHandler<TNotifyEvent> OnRx80Full{*this};

 protected:
  virtual void OpenDevice();
  virtual void CloseDevice();
  virtual void ApplyAllSettings();

  virtual void DoAfterClose();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoBeforeOpen();
  virtual void DoRxChar(std::int32_t count);
  virtual void DoRxBuf(const std::uint8_t* buffer, std::int32_t count);
  virtual void DoTxEmpty();
  virtual void DoBreak();
  virtual void DoRing();
  virtual void DoRxFlag();
  virtual void DoCTSChange(bool onOff);
  virtual void DoDSRChange(bool onOff);
  virtual void DoError(TComErrors errors);
  virtual void DoRLSDChange(bool onOff);
  virtual void DoRx80Full();

  virtual void ApplyLineSettings();
  virtual void ApplyTimeoutSettings();
  virtual void ApplyBufferSizes();

  // Where the line-event thread starts (end of open, when `Events` is not empty) and
  // stops (inside close, before the device goes).
  virtual void StartEventThread();
  virtual void StopEventThread();

  // One batch of line events, on the event thread: handed to the handlers as `SyncMethod`
  // says, or, when nothing is bound to receive it, settled on the event thread without
  // troubling the GUI thread. `stop` is the thread's stop event.
  void DispatchEvents(TComEvents events, const std::atomic<bool>& stop);
  // The line events that reach somebody: those with a handler, and those a link has a slot
  // for while a link is attached. The event thread waits for these alone (of `Events`), so
  // an arrival or a change that nobody hears wakes nothing; a handler assigned or a link
  // attached while the port is open widens the wait at once. A subclass that overrides the
  // Do... raisers names their events here, and calls EventBindingChanged when that changes.
  virtual TComEvents BoundEvents() const;
  // Whether any line event reaches somebody; asked on the event thread for each batch.
  virtual bool HasBoundEvents() const;
  // Brings the event thread's wait in line with BoundEvents.
  void EventBindingChanged();
  // The handlers of a batch, in the dispatch order, while this opening of the port lasts.
  void RunEventHandlers(TComEvents events, std::uint64_t session);
  void RunEventHandler(TComEvent event);

  // The open device, nullptr while closed.
  kvel::SerialDevice* Device() const { return device_.get(); }

  // The open- and close-time reports of CTS, DSR and RLSD to links and handlers.
  void ReportSignalsOn();
  void ReportSignalsOff();
  // Reads one modem line and tells its level to the links' slot and to the port's handler.
  void ReportModemLine(TModemSignal line, TComSignalEvent TComLink::*slot,
                       void (TCustomComPort::*handler)(bool));

  // A handler may attach or detach links: the call goes through the list as it was,
  // passing over links that have left it meanwhile.
  template <typename Slot, typename... Args>
  void CallLinks(Slot TComLink::*slot, Args... args) {
    const std::vector<TComLink*> links = links_;
    for (TComLink* link : links) {
      if (std::find(links_.begin(), links_.end(), link) == links_.end()) continue;
      if (link->*slot) (link->*slot)(*this, args...);
    }
  }

 private:
  // Stores a changed line setting and applies the line settings (at once when the port is
  // open).
  template <typename T>
  void SetLineSetting(T& field, T value) {
    if (field == value) return;
    field = value;
    ApplyLineSettings();
  }

  friend class TComParity;
  friend class TComFlowControl;
  friend class TComTimeouts;
  friend class TComBuffer;
  friend class kvel::TComThread;
  friend void kvel::LineHandlersChanged(TCustomComPort& port);

  enum class TransferKind { WriteTransfer, ReadTransfer };
  struct TransferRecord;

  bool CanApply() const;
  // The event mask the thread waits with: the bound part of `Events`.
  std::uint32_t WaitMask() const;
  std::int32_t Read(std::uint8_t* data, std::int32_t count);
  void RecomputeHasDataLink();
  [[noreturn]] void RaiseNoDevice(int errorNumber) const;

  std::unique_ptr<kvel::SerialDevice> device_;
  std::string absenceNote_;
  std::string devicePath_;
  std::string reopenPath_;  // set while ReopenOn opens
  int reopenConnectMs_ = 0;
  int reopenSocket_ = -1;  // owned until the network device takes it
  std::unique_ptr<kvel::TComThread> eventThread_;
  bool eventThreadCreated_ = false;
  bool eventWindow_ = false;               // the hidden window of smWindowSync
  std::atomic<std::uint64_t> session_{0};  // counts the openings; a batch belongs to one
  std::int32_t settingsChangeCount_ = 0;
  std::vector<TComLink*> links_;
  std::atomic<bool> hasLinks_{false};  // the event thread's view of `links_`
  bool hasDataLink_ = false;
  bool connected_ = false;
  bool dtrState_ = false;
  bool rtsState_ = false;
  // The error words read since the open, by kind, and the driver's counters at the open.
  kvel::LineCounters errorTally_;
  std::uint64_t errorReadings_ = 0;
  std::uint64_t errorReadingsTold_ = 0;
  kvel::LineCounters countersAtOpen_;
  bool countersAtOpenValid_ = false;
  void TallyErrors(std::uint32_t word);
  TBaudRate baudRate_ = br9600;
  std::int32_t customBaudRate_ = 9600;
  std::string port_ = "COM1";
  TStopBits stopBits_ = sbOneStopBit;
  TDataBits dataBits_ = dbEight;
  bool discardNull_ = false;
  std::uint8_t eventChar_ = 0;
  TComEvents events_ = kAllComEvents;
  TComBuffer buffer_;
  TComParity parity_;
  TComTimeouts timeouts_;
  TComFlowControl flowControl_;
  TSyncMethod syncMethod_ = smThreadSync;
  TStoredProps storedGroups_{sgBasic};
  std::vector<std::pair<const void*, std::function<void()>>> freeNotices_;
  std::size_t inputNoticeLevel_ = 0;
  std::function<void()> inputNotice_;
  std::string name_;
  bool loading_ = false;
  bool designing_ = false;
};

// The published component the application places on its main window.
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};

// Text forms of the settings and their parsing (letter case ignored, unknown text
// gives a fixed fallback).
std::string BaudRateText(TBaudRate value);
TBaudRate TextToBaudRate(const std::string& text);
std::string StopBitsText(TStopBits value);
TStopBits TextToStopBits(const std::string& text);
std::string DataBitsText(TDataBits value);
TDataBits TextToDataBits(const std::string& text);
std::string ParityText(TParityBits value);
TParityBits TextToParity(const std::string& text);
std::string FlowControlText(TFlowControl value);
TFlowControl TextToFlowControl(const std::string& text);
std::string DTRText(TDTRFlowControl value);
TDTRFlowControl TextToDTR(const std::string& text);
std::string RTSText(TRTSFlowControl value);
TRTSFlowControl TextToRTS(const std::string& text);

// Text forms of booleans ("Yes"/"No"; only yes in any letter case reads true) and of
// characters (33..127 as themselves, others as "#" and the code).
std::string YesNoText(bool value);
bool TextToBool(const std::string& text);
std::string CharText(std::uint8_t value);
std::uint8_t TextToChar(const std::string& text);

// The line rate of a baud-rate setting (0 for brCustom, whose rate is the port's).
std::int32_t BaudRateValue(TBaudRate value);

// Replaces the list with the names of the serial ports this machine knows, sorted
// without regard to letter case; raises EComPort 23 when they cannot be read.
void ListSerialPorts(std::vector<std::string>& list);
