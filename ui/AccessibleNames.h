#pragma once

class QCoreApplication;
class QWidget;

namespace kvel {

// Readies a window for screen readers:
// - a focusable control that has no accessible name (no caption, no buddy label) is named
//   after the label beside it: the nearest caption on its left on the same line, else the
//   one just above it; a control with neither is named after its hint;
// - each radio group (the auto-exclusive radio buttons of one parent, or the radio buttons
//   of an exclusive button group) is one tab stop, at its checked item, so Tab enters the
//   group there and the arrow keys move within it.
// Running it again names controls that have come since and leaves the rest as they are.
void PrepareAccessibility(QWidget* window);

// Runs PrepareAccessibility on every window of the application as it is shown.
void InstallAccessibilityPreparation(QCoreApplication* app);

}  // namespace kvel
