// Dialogs answered by the test: every box shown is recorded, and the
// file-open dialog returns what the test put in `nextFileName`.
#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "ui/dialogs.h"

namespace quarn::test {

class TFakeDialogs final : public ui::TDialogs {
 public:
  struct TBox {
    QString text;
    QString caption;
    bool error = false;  // stop icon (ShowErrorBox) rather than a plain box
    QMessageBox::StandardButton button = QMessageBox::Ok;
  };
  std::vector<TBox> boxes;
  std::optional<QString> nextFileName;  // nothing: the user cancels
  std::vector<QString> openDialogDirectories;

  std::optional<QString> OpenFileName(QWidget*, const QString& initialDirectory) override {
    openDialogDirectories.push_back(initialDirectory);
    return nextFileName;
  }
  void ShowMessageBox(const QString& text, const QString& caption) override {
    boxes.push_back({text, caption, false, QMessageBox::Ok});
  }
  void ShowErrorBox(const QString& text, const QString& caption, QMessageBox::StandardButton button) override {
    boxes.push_back({text, caption, true, button});
  }
};

}  // namespace quarn::test
