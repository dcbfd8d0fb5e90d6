// The dialogs and message boxes of the program, behind one small interface,
// so that the window's handlers and the error display run the same way
// whether a person answers (TQtDialogs) or a test does (a fake of its own).
#pragma once

#include <QMessageBox>
#include <QString>
#include <optional>

class QWidget;

namespace quarn::ui {

class TDialogs {
 public:
  virtual ~TDialogs() = default;

  // The file-open dialog for one existing file, started in
  // `initialDirectory`, with no file-type filter and no title of its own.
  // Returns the chosen name in full (absolute), or nothing when the user
  // cancels.
  virtual std::optional<QString> OpenFileName(QWidget* parent, const QString& initialDirectory) = 0;

  // `text` with an OK button and no icon, owned by no window, blocking every
  // window of the program until it is closed. An empty caption leaves the
  // title empty.
  virtual void ShowMessageBox(const QString& text, const QString& caption) = 0;

  // An error: stop icon, `text`, `caption` as the title and one button
  // (OK for an error that left a handler, Close for a missing theme). The
  // text can be selected and copied; it wraps (a long name anywhere) to a
  // width the screen holds, the box grows with it, and a text higher than
  // the screen can hold scrolls inside the box.
  virtual void ShowErrorBox(const QString& text, const QString& caption,
                            QMessageBox::StandardButton button) = 0;
};

// The real dialogs, shown with Qt and answered by a person.
class TQtDialogs final : public TDialogs {
 public:
  std::optional<QString> OpenFileName(QWidget* parent, const QString& initialDirectory) override;
  void ShowMessageBox(const QString& text, const QString& caption) override;
  void ShowErrorBox(const QString& text, const QString& caption,
                    QMessageBox::StandardButton button) override;
};

}  // namespace quarn::ui
