// Finds the folder pickers that are open, for tests that drive them.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QList>

namespace orvane::app {

// Every visible folder picker, in no particular order.
inline QList<QFileDialog*> OpenPickers() {
  QList<QFileDialog*> pickers;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* picker = qobject_cast<QFileDialog*>(widget);
    if (picker != nullptr && picker->isVisible()) pickers.append(picker);
  }
  return pickers;
}

}  // namespace orvane::app
