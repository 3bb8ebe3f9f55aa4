#include "AccessibleNames.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTextDocumentFragment>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

namespace kvel {

namespace {

// How far a label may stand from the control it names: beside it on its left, or above it.
constexpr int kMaxGapLeft = 160;
constexpr int kMaxGapAbove = 24;

constexpr const char* kTabStopProperty = "kvelRadioTabStop";

QString PlainCaption(const QLabel& label) {
  QString text = label.text();
  if (label.textFormat() == Qt::RichText ||
      (label.textFormat() == Qt::AutoText && Qt::mightBeRichText(text))) {
    text = QTextDocumentFragment::fromHtml(text).toPlainText();
  }
  // The mnemonic marks: "&&" shows an ampersand, a single '&' marks the letter after it.
  QString plain;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size()) ++i;
    plain += text[i];
  }
  return plain.simplified();
}

QRect InWindow(const QWidget& widget) {
  return {widget.mapTo(widget.window(), QPoint(0, 0)), widget.size()};
}

bool NeedsName(QWidget& widget) {
  if (widget.isWindow() || widget.focusPolicy() == Qt::NoFocus) return false;
  if (!widget.accessibleName().isEmpty()) return false;
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&widget);
  return iface != nullptr && iface->text(QAccessible::Name).isEmpty();
}

// The caption label nearest to the control on its left on the same line, or else just above.
const QLabel* LabelBeside(const QWidget& control, const std::vector<const QLabel*>& labels) {
  const QRect target = InWindow(control);
  const QLabel* best = nullptr;
  int bestGap = INT_MAX;
  for (const QLabel* label : labels) {
    const QRect area = InWindow(*label);
    const int middle = area.center().y();
    if (middle < target.top() || middle > target.bottom()) continue;
    const int gap = target.left() - area.right();
    if (gap < -2 || gap > kMaxGapLeft || gap >= bestGap) continue;
    best = label;
    bestGap = gap;
  }
  if (best != nullptr) return best;
  for (const QLabel* label : labels) {
    const QRect area = InWindow(*label);
    if (area.left() < target.left() - 8 || area.left() > target.right()) continue;
    const int gap = target.top() - area.bottom();
    if (gap < -2 || gap > kMaxGapAbove || gap >= bestGap) continue;
    best = label;
    bestGap = gap;
  }
  return best;
}

// The grey text an empty field or list shows in place of a value.
QString Placeholder(const QWidget& control) {
  if (const auto* edit = qobject_cast<const QLineEdit*>(&control)) {
    return edit->placeholderText().simplified();
  }
  if (const auto* list = qobject_cast<const QComboBox*>(&control)) {
    return list->placeholderText().simplified();
  }
  return {};
}

void NameControls(QWidget& window) {
  std::vector<const QLabel*> labels;
  for (const QLabel* label : window.findChildren<QLabel*>()) {
    if (label->window() != &window || label->buddy() != nullptr) continue;
    if (PlainCaption(*label).isEmpty()) continue;
    labels.push_back(label);
  }
  for (QWidget* control : window.findChildren<QWidget*>()) {
    if (control->window() != &window || !NeedsName(*control)) continue;
    // The line edit inside an editable list or a spin box answers for its owner.
    if (QWidget* owner = control->parentWidget();
        owner != nullptr && (control->focusProxy() == owner || owner->focusProxy() == control)) {
      QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(owner);
      const QString name = iface != nullptr ? iface->text(QAccessible::Name) : QString();
      if (!name.isEmpty()) {
        control->setAccessibleName(name);
        continue;
      }
    }
    if (const QLabel* label = LabelBeside(*control, labels)) {
      control->setAccessibleName(PlainCaption(*label));
    } else if (const QString placeholder = Placeholder(*control); !placeholder.isEmpty()) {
      control->setAccessibleName(placeholder);
    } else if (!control->toolTip().isEmpty()) {
      control->setAccessibleName(control->toolTip().simplified());
    }
  }
}

// Moves the group's one tab stop to its checked item; while none is checked, or the checked
// one is disabled, to the first enabled item.
void PlaceTabStop(const std::vector<QPointer<QAbstractButton>>& items) {
  QAbstractButton* stop = nullptr;
  for (const auto& item : items) {
    if (item != nullptr && item->isChecked() && item->isEnabled()) stop = item;
  }
  for (const auto& item : items) {
    if (stop == nullptr && item != nullptr && item->isEnabled()) stop = item;
  }
  for (const auto& item : items) {
    if (item == nullptr) continue;
    const Qt::FocusPolicy policy = item->focusPolicy();
    if (policy == Qt::NoFocus) continue;
    item->setFocusPolicy(item == stop ? Qt::FocusPolicy(policy | Qt::TabFocus)
                                      : Qt::FocusPolicy(policy & ~Qt::TabFocus));
  }
}

void KeepOneTabStop(const std::vector<QAbstractButton*>& group) {
  if (group.size() < 2) return;
  auto items = std::make_shared<std::vector<QPointer<QAbstractButton>>>(group.begin(), group.end());
  for (QAbstractButton* item : group) {
    if (item->property(kTabStopProperty).toBool()) continue;  // followed already
    item->setProperty(kTabStopProperty, true);
    QObject::connect(item, &QAbstractButton::toggled, item, [items] { PlaceTabStop(*items); });
  }
  // Items may have been enabled or disabled while the window was hidden.
  PlaceTabStop(*items);
}

void PrepareRadioGroups(QWidget& window) {
  for (QButtonGroup* group : window.findChildren<QButtonGroup*>()) {
    if (!group->exclusive()) continue;
    std::vector<QAbstractButton*> radios;
    for (QAbstractButton* button : group->buttons()) {
      if (qobject_cast<QRadioButton*>(button) != nullptr) radios.push_back(button);
    }
    KeepOneTabStop(radios);
  }
  // Auto-exclusive radio buttons outside a button group form a group per parent.
  std::vector<QWidget*> parents;
  for (QRadioButton* radio : window.findChildren<QRadioButton*>()) {
    if (radio->group() != nullptr || !radio->autoExclusive()) continue;
    if (std::find(parents.begin(), parents.end(), radio->parentWidget()) == parents.end()) {
      parents.push_back(radio->parentWidget());
    }
  }
  for (QWidget* parent : parents) {
    std::vector<QAbstractButton*> radios;
    for (QRadioButton* radio : parent->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) {
      if (radio->group() == nullptr && radio->autoExclusive()) radios.push_back(radio);
    }
    KeepOneTabStop(radios);
  }
}

constexpr const char* kFilterName = "kvelAccessibilityPreparation";

class PreparationFilter : public QObject {
 public:
  explicit PreparationFilter(QObject* parent) : QObject(parent) {
    setObjectName(QString::fromLatin1(kFilterName));
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
      auto* widget = static_cast<QWidget*>(watched);
      if (widget->isWindow()) PrepareAccessibility(widget);
    }
    return false;
  }
};

}  // namespace

void PrepareAccessibility(QWidget* window) {
  if (window == nullptr) return;
  PrepareRadioGroups(*window);
  NameControls(*window);
}

void InstallAccessibilityPreparation(QCoreApplication* app) {
  if (app == nullptr ||
      app->findChild<QObject*>(QString::fromLatin1(kFilterName), Qt::FindDirectChildrenOnly)) {
    return;
  }
  app->installEventFilter(new PreparationFilter(app));
}

}  // namespace kvel
