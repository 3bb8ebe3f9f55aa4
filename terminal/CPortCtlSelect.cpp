#include "CPortCtlSelect.h"

#include <QAbstractItemView>
#include <vector>

#include "serial/PortMap.h"
#include "ui/Convert.h"

namespace kvel {
namespace {

// The list's case-insensitive search, by the value an item stands for (a port's name, its
// text showing the device beside it) or else by its text; -1 when it is not listed.
int FindItem(const QComboBox* items, const std::string& text) {
  const int byValue = items->findData(ToQt(text), Qt::UserRole, Qt::MatchFixedString);
  return byValue >= 0 ? byValue : items->findText(ToQt(text), Qt::MatchFixedString);
}

// The value of an item: its stored one where it has one, else its text.
std::string ItemValue(const QComboBox* items, int index) {
  const QVariant value = items->itemData(index, Qt::UserRole);
  const QString text = value.isValid() ? value.toString() : items->itemText(index);
  return FromQt(text);
}

template <typename E>
void AddTexts(QComboBox* items, std::string (*text)(E), int count) {
  for (int i = 0; i < count; ++i) items->addItem(ToQt(text(static_cast<E>(i))));
}

}  // namespace

// ---- TComSelect ----------------------------------------------------------------------------

void TComSelect::SetComProperty(TComProperty value) {
  comProperty_ = value;
  FillItems();
}

void TComSelect::FillItems() {
  items_->clear();
  switch (comProperty_) {
    case cpNone:
      break;
    case cpPort: {
      std::vector<std::string> ports;
      ListSerialPorts(ports);
      for (const std::string& name : ports) {
        // Which device the name stands for, in the item's text (the name is its value) and,
        // with what the user may want to change about it, in its hint.
        items_->addItem(ToQt(PortItemText(name)), ToQt(name));
        items_->setItemData(items_->count() - 1, ToQt(PortDeviceHint(name)), Qt::ToolTipRole);
      }
      // The open list is as wide as its texts, however narrow the closed box.
      items_->view()->setMinimumWidth(items_->view()->sizeHintForColumn(0) + 24);
      break;
    }
    case cpBaudRate:
      AddTexts(items_, &BaudRateText, br256000 + 1);
      break;
    case cpDataBits:
      AddTexts(items_, &DataBitsText, dbEight + 1);
      break;
    case cpStopBits:
      AddTexts(items_, &StopBitsText, sbTwoStopBits + 1);
      break;
    case cpParity:
      AddTexts(items_, &ParityText, prSpace + 1);
      break;
    case cpFlowControl:
      AddTexts(items_, &FlowControlText, fcCustom + 1);
      break;
  }
}

void TComSelect::TakeText(const std::string& text) {
  switch (comProperty_) {
    case cpNone:
      break;
    case cpPort:
      port_ = text;
      break;
    case cpBaudRate:
      baudRate_ = TextToBaudRate(text);
      break;
    case cpDataBits:
      dataBits_ = TextToDataBits(text);
      break;
    case cpStopBits:
      stopBits_ = TextToStopBits(text);
      break;
    case cpParity:
      parity_ = TextToParity(text);
      break;
    case cpFlowControl:
      flowControl_ = TextToFlowControl(text);
      break;
  }
  if (autoApply_) ApplySelection();
}

void TComSelect::ApplySelection() {
  if (comPort_ == nullptr) return;
  switch (comProperty_) {
    case cpNone:
      break;
    case cpPort:
      comPort_->SetPort(port_);
      break;
    case cpBaudRate:
      comPort_->SetBaudRate(baudRate_);
      break;
    case cpDataBits:
      comPort_->SetDataBits(dataBits_);
      break;
    case cpStopBits:
      comPort_->SetStopBits(stopBits_);
      break;
    case cpParity:
      comPort_->Parity().SetBits(parity_);
      break;
    case cpFlowControl:
      comPort_->FlowControl().SetFlowControl(flowControl_);
      break;
  }
}

void TComSelect::ShowPortValue() {
  if (comPort_ == nullptr) return;
  std::string text;
  switch (comProperty_) {
    case cpNone:
      items_->setCurrentIndex(-1);
      return;
    case cpPort:
      text = comPort_->Port();
      break;
    case cpBaudRate:
      text = BaudRateText(comPort_->BaudRate());
      break;
    case cpDataBits:
      text = DataBitsText(comPort_->DataBits());
      break;
    case cpStopBits:
      text = StopBitsText(comPort_->StopBits());
      break;
    case cpParity:
      text = ParityText(comPort_->Parity().Bits());
      break;
    case cpFlowControl:
      text = FlowControlText(comPort_->FlowControl().FlowControl());
      break;
  }
  const int index = FindItem(items_, text);
  items_->setCurrentIndex(index);
  if (index < 0) {
    // A port whose name is not listed keeps it: writing back an empty or stale name would
    // take the port away from its device.
    if (comProperty_ == cpPort) port_ = text;
    return;
  }
  // The held value is the item's, so an unchanged dialog writes back what the port has.
  const bool autoApply = autoApply_;
  autoApply_ = false;
  TakeText(ItemValue(items_, index));
  autoApply_ = autoApply;
}

// ---- TComComboBox --------------------------------------------------------------------------

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent), select_(this) {
  setEditable(false);  // pick-only
  connect(this, &QComboBox::activated, this, &TComComboBox::ItemPicked);
  connect(this, &QComboBox::currentIndexChanged, this, &TComComboBox::ShowItemHint);
}

TComComboBox::~TComComboBox() {
  if (TCustomComPort* port = select_.ComPort()) port->RemoveFreeNotification(this);
}

void TComComboBox::SetComPort(TCustomComPort* value) {
  if (value == select_.ComPort()) return;
  if (TCustomComPort* old = select_.ComPort()) old->RemoveFreeNotification(this);
  select_.SetComPort(value);
  if (value == nullptr) return;
  value->FreeNotification(this, [this] {
    select_.SetComPort(nullptr);
    if (count() > 0) setCurrentIndex(0);
  });
  ShowPortValue();
}

void TComComboBox::SetComProperty(TComProperty value) {
  select_.SetComProperty(value);
  if (count() == 0) return;
  if (select_.ComPort() != nullptr) {
    ShowPortValue();
  } else {
    setCurrentIndex(0);
  }
}

std::string TComComboBox::Text() const {
  return currentIndex() < 0 ? std::string() : ItemValue(this, currentIndex());
}

void TComComboBox::SetText(const std::string& text) {
  const int index = FindItem(this, text);
  if (index >= 0) setCurrentIndex(index);
}

void TComComboBox::ShowPortValue() {
  select_.ShowPortValue();
}

void TComComboBox::ItemPicked(int index) {
  if (index < 0) return;
  select_.TakeText(ItemValue(this, index));
  if (OnChange) OnChange(*this);
}

void TComComboBox::ShowItemHint() {
  const int index = currentIndex();
  setToolTip(index < 0 ? QString() : itemData(index, Qt::ToolTipRole).toString());
}

}  // namespace kvel
