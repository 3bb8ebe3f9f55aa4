#include "CPortSetup.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <memory>
#include <string>

#include "terminal/CPortCtlSelect.h"
#include "ui/Form.h"

namespace {

constexpr int kClientWidth = 231;
constexpr int kClientHeight = 216;

}  // namespace

TComSetupFrm::TComSetupFrm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Setup"));
  kvel::FixForm(this, "ComSetupFrm", kClientWidth, kClientHeight);
  GroupBox1 = kvel::AddGroup(this, "GroupBox1", " Settings ", QRect(8, 6, 215, 168));

  const std::array<const char*, 6> captions{"Port",      "Baud rate", "Data bits",
                                            "Stop bits", "Parity",    "Flow control"};
  const std::array<kvel::TComProperty, 6> properties{kvel::cpPort,     kvel::cpBaudRate,
                                                     kvel::cpDataBits, kvel::cpStopBits,
                                                     kvel::cpParity,   kvel::cpFlowControl};
  std::array<kvel::TComComboBox**, 6> combos{&Combo1, &Combo2, &Combo3, &Combo4, &Combo5, &Combo6};
  QWidget* previous = nullptr;
  for (std::size_t i = 0; i < combos.size(); ++i) {
    const int top = 20 + 24 * static_cast<int>(i);
    const std::string number = std::to_string(i + 1);
    auto* label = kvel::AddLabel(GroupBox1, ("Label" + number).c_str(), captions[i],
                                 QRect(8, top + 3, 70, 16));
    Labels[i] = label;
    auto* combo = new kvel::TComComboBox(GroupBox1);
    combo->setObjectName(QString::fromStdString("Combo" + number));
    combo->setGeometry(80, top, 129, 21);
    label->setBuddy(combo);
    // Streaming the form sets each selector's property, which fills its list.
    combo->SetComProperty(properties[i]);
    combo->SetAutoApply(false);
    *combos[i] = combo;
    if (previous != nullptr) setTabOrder(previous, combo);
    previous = combo;
  }

  Button1 = kvel::AddDefaultButton(this, "Button1", "OK", QRect(33, 182, 75, 25));
  Button2 = kvel::AddCancelButton(this, "Button2", "Cancel", QRect(123, 182, 75, 25));
  kvel::SetTabOrder({previous, Button1, Button2});
  kvel::CentreOnScreen(this);
}

void ShowPortSetup(TCustomComPort& port) {
  auto dialog = std::make_unique<TComSetupFrm>(QApplication::activeWindow());
  for (kvel::TComComboBox* combo : dialog->Combos()) combo->SetComPort(&port);
  for (kvel::TComComboBox* combo : dialog->Combos()) combo->ShowPortValue();
  if (dialog->exec() != QDialog::Accepted) return;
  port.BeginSettingsChange();
  try {
    for (kvel::TComComboBox* combo : dialog->Combos()) combo->ApplySelection();
  } catch (...) {
    // The first error is the one to report; the bracket closes all the same.
    try {
      port.EndSettingsChange();
    } catch (...) {
    }
    throw;
  }
  port.EndSettingsChange();
}
