#pragma once

#include <QComboBox>
#include <functional>
#include <string>

#include "serial/CPort.h"

namespace kvel {

// The port setting a selector is bound to.
enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// Holds one setting chosen in a list and writes it into the bound port on request: the
// list's texts, the value the user picked, and the port and property it belongs to.
class TComSelect {
 public:
  explicit TComSelect(QComboBox* items) : items_(items) {}

  TComProperty ComProperty() const { return comProperty_; }
  void SetComProperty(TComProperty value);
  TCustomComPort* ComPort() const { return comPort_; }
  void SetComPort(TCustomComPort* value) { comPort_ = value; }
  bool AutoApply() const { return autoApply_; }
  void SetAutoApply(bool value) { autoApply_ = value; }

  // Refills the list with the texts of the bound property (cpPort reads the port list and
  // can raise EComPort 23).
  void FillItems();
  // Holds the value of an item text; with AutoApply on, writes it into the port at once.
  void TakeText(const std::string& text);
  // Writes the held value of the bound property into the bound port.
  void ApplySelection();
  // Selects the item of the port's current value and holds it; no item when it is not listed.
  void ShowPortValue();

  const std::string& HeldPort() const { return port_; }

 private:
  std::string port_;
  TBaudRate baudRate_ = brCustom;
  TDataBits dataBits_ = dbFive;
  TStopBits stopBits_ = sbOneStopBit;
  TParityBits parity_ = prNone;
  TFlowControl flowControl_ = fcHardware;
  QComboBox* items_;  // the combo box's own list
  TComProperty comProperty_ = cpNone;
  TCustomComPort* comPort_ = nullptr;
  bool autoApply_ = false;
};

// A pick-only list bound to one setting of one serial port: lists the setting's values, shows
// the port's current one, and writes the user's choice back at once or when asked.
class TComComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TComComboBox(QWidget* parent = nullptr);
  ~TComComboBox() override;

  TCustomComPort* ComPort() const { return select_.ComPort(); }
  void SetComPort(TCustomComPort* value);
  TComProperty ComProperty() const { return select_.ComProperty(); }
  void SetComProperty(TComProperty value);
  bool AutoApply() const { return select_.AutoApply(); }
  void SetAutoApply(bool value) { select_.SetAutoApply(value); }
  // The selected item's value (a port's name; the other settings' text), "" when none is
  // selected.
  std::string Text() const;
  // Selects the item equal to `text` (letter case ignored); nothing happens when none is.
  void SetText(const std::string& text);

  void ApplySelection() { select_.ApplySelection(); }
  void ShowPortValue();
  const TComSelect& Selection() const { return select_; }

  // The user picked an item (after its value has been taken).
  std::function<void(TComComboBox& sender)> OnChange;

 private:
  void ItemPicked(int index);
  void ShowItemHint();

  TComSelect select_;
};

}  // namespace kvel
