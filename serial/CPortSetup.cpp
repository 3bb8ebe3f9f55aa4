#include "CPortSetup.h"

#include <QApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <memory>

#include "terminal/CPortCtlSelect.h"

namespace {

constexpr int kClientWidth = 231;
constexpr int kClientHeight = 216;

}  // namespace

TComSetupFrm::TComSetupFrm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("ComSetupFrm"));
  setWindowTitle(QStringLiteral("Setup"));
  // The program's face: its texts fit the fixed layout in it.
  QFont formFont = font();
  formFont.setFamily(QStringLiteral("Arial"));
  formFont.setPointSize(8);
  setFont(formFont);
  setFixedSize(kClientWidth, kClientHeight);

  GroupBox1 = new QGroupBox(QStringLiteral(" Settings "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 6, 215, 168);

  const std::array<const char*, 6> captions{"Port",      "Baud rate", "Data bits",
                                            "Stop bits", "Parity",    "Flow control"};
  const std::array<kvel::TComProperty, 6> properties{kvel::cpPort,     kvel::cpBaudRate,
                                                     kvel::cpDataBits, kvel::cpStopBits,
                                                     kvel::cpParity,   kvel::cpFlowControl};
  std::array<kvel::TComComboBox**, 6> combos{&Combo1, &Combo2, &Combo3, &Combo4, &Combo5, &Combo6};
  QWidget* previous = nullptr;
  for (std::size_t i = 0; i < combos.size(); ++i) {
    const int top = 20 + 24 * static_cast<int>(i);
    auto* label = new QLabel(QString::fromLatin1(captions[i]), GroupBox1);
    label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
    label->setGeometry(8, top + 3, 70, 16);
    Labels[i] = label;
    auto* combo = new kvel::TComComboBox(GroupBox1);
    combo->setObjectName(QStringLiteral("Combo%1").arg(i + 1));
    combo->setGeometry(80, top, 129, 21);
    label->setBuddy(combo);
    // Streaming the form sets each selector's property, which fills its list.
    combo->SetComProperty(properties[i]);
    combo->SetAutoApply(false);
    *combos[i] = combo;
    if (previous != nullptr) setTabOrder(previous, combo);
    previous = combo;
  }

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(33, 182, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(123, 182, 75, 25);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  setTabOrder(previous, Button1);
  setTabOrder(Button1, Button2);

  if (const QScreen* desktop = QGuiApplication::primaryScreen()) {
    const QRect area = desktop->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
  }
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
