// How the dialog shows the messages of a batch run to the user.
#pragma once

#include <QString>

#include "app/dialog_texts.h"

class QWidget;

namespace orvane::app {

// The name shown as the title of every message box.
inline constexpr char kApplicationName[] = ORVANE_MESSAGE_TITLE;

class MessageService {
 public:
  virtual ~MessageService() = default;
  // Shows `text` and returns once the user has dismissed it.
  virtual void ShowMessage(const QString& text) = 0;
};

// Shows each message in a modal box with the warning icon, an OK button and
// the title "Orvane", placed over `owner` (which may be null).
class MessageBoxService : public MessageService {
 public:
  explicit MessageBoxService(QWidget* owner) : owner_(owner) {}
  void ShowMessage(const QString& text) override;

 private:
  QWidget* owner_;
};

}  // namespace orvane::app
