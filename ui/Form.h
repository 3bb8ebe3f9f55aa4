#pragma once

#include <QGroupBox>
#include <QRect>
#include <initializer_list>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDialog;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kvel {

// The mechanics of the program's hand-placed windows: fixed client sizes, the usual
// placements, and controls created at fixed positions under the names the windows' code and
// tests look them up by. Captions and hints are the program's 8-bit texts.

// The program's face, Arial 8 points: the fixed layouts are measured in it.
void UseFormFont(QWidget* form);
// A window the user cannot resize: `name` as its object name, the program's face unless
// `programFont` is false, and a client area of `width` x `height`.
void FixForm(QWidget* form, const char* name, int width, int height, bool programFont = true);
// How much of a window CentreOver centres: its frame, or only its client area (the setup
// dialogs, whose frame the window manager adds around the fixed client size).
enum class Centred { Frame, ClientArea };
// Places `window` over `owner`: left = owner left + (owner width - width) / 2, top likewise
// plus `down` pixels, halves truncated toward zero; the owner is measured by its frame.
// Nothing happens without an owner.
void CentreOver(QWidget* window, const QWidget* owner, int down = 0,
                Centred centred = Centred::Frame);
// Places `window` in the middle of the primary screen's work area.
void CentreOnScreen(QWidget* window);
// Closes `window` on a plain Esc; true when it did, so the key needs no other handling.
bool ClosedByEsc(QWidget* window, const QKeyEvent* event);
// Tab order along the controls as listed.
void SetTabOrder(std::initializer_list<QWidget*> order);

// A label shows its caption as plain text, never as markup; one without a name (nullptr)
// keeps none.
QLabel* AddLabel(QWidget* parent, const char* name, const char* caption, QRect at);
QLineEdit* AddEdit(QWidget* parent, const char* name, QRect at);
// A button that Enter does not press unless it has been made the default; `hint` is its
// tool tip.
QPushButton* AddButton(QWidget* parent, const char* name, const char* caption, QRect at,
                       const char* hint = nullptr);
// A dialog's default button: Enter presses it, a click accepts the dialog.
QPushButton* AddDefaultButton(QDialog* dialog, const char* name, const char* caption, QRect at);
// A dialog's cancel button: a click rejects the dialog (as Esc does).
QPushButton* AddCancelButton(QDialog* dialog, const char* name, const char* caption, QRect at);
QCheckBox* AddCheckBox(QWidget* parent, const char* name, const char* caption, QRect at);
QGroupBox* AddGroup(QWidget* parent, const char* name, const char* caption, QRect at);
// A pick-only list with its items.
QComboBox* AddComboBox(QWidget* parent, const char* name, std::initializer_list<const char*> items,
                       QRect at);
// A plain container for controls placed inside it.
QWidget* AddPanel(QWidget* parent, const char* name, QRect at);

// A titled group of radio items laid out in columns, filled column by column; the item
// index is -1 while none is selected.
class TRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  TRadioGroup(const char* title, const std::vector<const char*>& items, int columns,
              QWidget* parent);

  int ItemIndex() const;
  // Selects item `index`; -1 (or any index outside the list) selects none.
  void SetItemIndex(int index);
  QRadioButton* Item(int index) const;
  int Count() const { return static_cast<int>(buttons_.size()); }
  // Places the items inside the group's current geometry.
  void ArrangeItems();

 private:
  QButtonGroup* group_;
  std::vector<QRadioButton*> buttons_;
  int columns_;
};

// Sets a property a control paints: it repaints only when the value changes.
template <typename T>
void RepaintOnChange(QWidget& control, T& property, const T& value) {
  if (property == value) return;
  property = value;
  control.update();
}

// A radio group at `at` with its items arranged, item `selected` chosen (-1: none).
TRadioGroup* AddRadioGroup(QWidget* parent, const char* name, const char* caption,
                           const std::vector<const char*>& items, int columns, QRect at,
                           int selected = -1);

}  // namespace kvel
