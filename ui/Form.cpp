#include "Form.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <algorithm>

#include "Convert.h"

namespace kvel {
namespace {

QString Caption(const char* text) {
  return text == nullptr ? QString() : ToQt(text);
}

template <class Control>
Control* Place(Control* control, const char* name, QRect at) {
  if (name != nullptr) control->setObjectName(QString::fromUtf8(name));
  control->setGeometry(at);
  return control;
}

}  // namespace

void UseFormFont(QWidget* form) {
  QFont font = form->font();
  font.setFamily(QStringLiteral("Arial"));
  font.setPointSize(8);
  form->setFont(font);
}

void FixForm(QWidget* form, const char* name, int width, int height, bool programFont) {
  form->setObjectName(QString::fromUtf8(name));
  if (programFont) UseFormFont(form);
  form->setFixedSize(width, height);
}

void CentreOver(QWidget* window, const QWidget* owner, int down, Centred centred) {
  if (owner == nullptr) return;
  const QRect frame = owner->frameGeometry();
  const QSize own = centred == Centred::Frame ? window->frameGeometry().size() : window->size();
  window->move(frame.left() + (frame.width() - own.width()) / 2,
               frame.top() + (frame.height() - own.height()) / 2 + down);
}

void CentreOnScreen(QWidget* window) {
  if (const QScreen* desktop = QGuiApplication::primaryScreen()) {
    const QRect area = desktop->availableGeometry();
    window->move(area.x() + (area.width() - window->width()) / 2,
                 area.y() + (area.height() - window->height()) / 2);
  }
}

bool ClosedByEsc(QWidget* window, const QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier) return false;
  window->close();
  return true;
}

void SetTabOrder(std::initializer_list<QWidget*> order) {
  QWidget* previous = nullptr;
  for (QWidget* control : order) {
    if (previous != nullptr) QWidget::setTabOrder(previous, control);
    previous = control;
  }
}

QLabel* AddLabel(QWidget* parent, const char* name, const char* caption, QRect at) {
  auto* label = new QLabel(Caption(caption), parent);
  label->setTextFormat(Qt::PlainText);
  return Place(label, name, at);
}

QLineEdit* AddEdit(QWidget* parent, const char* name, QRect at) {
  return Place(new QLineEdit(parent), name, at);
}

QPushButton* AddButton(QWidget* parent, const char* name, const char* caption, QRect at,
                       const char* hint) {
  auto* button = new QPushButton(Caption(caption), parent);
  if (hint != nullptr) button->setToolTip(ToQt(hint));
  button->setAutoDefault(false);
  return Place(button, name, at);
}

QPushButton* AddDefaultButton(QDialog* dialog, const char* name, const char* caption, QRect at) {
  auto* button = Place(new QPushButton(Caption(caption), dialog), name, at);
  button->setDefault(true);
  QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::accept);
  return button;
}

QPushButton* AddCancelButton(QDialog* dialog, const char* name, const char* caption, QRect at) {
  auto* button = Place(new QPushButton(Caption(caption), dialog), name, at);
  QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::reject);
  return button;
}

QCheckBox* AddCheckBox(QWidget* parent, const char* name, const char* caption, QRect at) {
  return Place(new QCheckBox(Caption(caption), parent), name, at);
}

QGroupBox* AddGroup(QWidget* parent, const char* name, const char* caption, QRect at) {
  return Place(new QGroupBox(Caption(caption), parent), name, at);
}

QComboBox* AddComboBox(QWidget* parent, const char* name, std::initializer_list<const char*> items,
                       QRect at) {
  auto* list = new QComboBox(parent);
  list->setEditable(false);
  for (const char* item : items) list->addItem(Caption(item));
  return Place(list, name, at);
}

QWidget* AddPanel(QWidget* parent, const char* name, QRect at) {
  return Place(new QWidget(parent), name, at);
}

// ---- TRadioGroup ---------------------------------------------------------------------------

TRadioGroup::TRadioGroup(const char* title, const std::vector<const char*>& items, int columns,
                         QWidget* parent)
    : QGroupBox(Caption(title), parent),
      group_(new QButtonGroup(this)),
      columns_(std::max(columns, 1)) {
  for (const char* text : items) {
    auto* button = new QRadioButton(Caption(text), this);
    group_->addButton(button, static_cast<int>(buttons_.size()));
    buttons_.push_back(button);
  }
}

int TRadioGroup::ItemIndex() const {
  return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
  if (index >= 0 && index < Count()) {
    buttons_[static_cast<std::size_t>(index)]->setChecked(true);
    return;
  }
  // An exclusive group cannot uncheck its last checked item.
  group_->setExclusive(false);
  for (QRadioButton* button : buttons_) button->setChecked(false);
  group_->setExclusive(true);
}

QRadioButton* TRadioGroup::Item(int index) const {
  return buttons_.at(static_cast<std::size_t>(index));
}

void TRadioGroup::ArrangeItems() {
  const int perColumn = (Count() + columns_ - 1) / columns_;
  const int top = 18;
  const int rowHeight = perColumn > 0 ? std::min(18, (height() - top - 4) / perColumn) : 18;
  const int columnWidth = (width() - 8) / columns_;
  for (int i = 0; i < Count(); ++i) {
    const int column = perColumn > 0 ? i / perColumn : 0;
    const int row = perColumn > 0 ? i % perColumn : 0;
    buttons_[static_cast<std::size_t>(i)]->setGeometry(
        6 + column * columnWidth, top + row * rowHeight, columnWidth - 4, rowHeight);
  }
}

TRadioGroup* AddRadioGroup(QWidget* parent, const char* name, const char* caption,
                           const std::vector<const char*>& items, int columns, QRect at,
                           int selected) {
  auto* group = Place(new TRadioGroup(caption, items, columns, parent), name, at);
  group->ArrangeItems();
  if (selected >= 0) group->SetItemIndex(selected);
  return group;
}

}  // namespace kvel
