#include "app/qt/message_service.h"

#include <QMessageBox>

namespace orvane::app {

void MessageBoxService::ShowMessage(const QString& text) {
  QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kApplicationName), text,
                  QMessageBox::Ok, owner_);
  // Paths may hold '<' or '&'; they are shown as they are.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace orvane::app
