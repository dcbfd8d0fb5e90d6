// The application object of the window program and its identity.
#pragma once

#include <QApplication>

#include "ui/dialogs.h"

namespace quarn::ui {

// The theme put in force at start-up (theme.h).
inline constexpr char kThemeName[] = "Windows10 Dark";

// QApplication whose event delivery never lets an exception through: an
// error that leaves any event handler is shown by the error display
// (error_display.h) and the event loop goes on.
class TQuarnApplication : public QApplication {
  Q_OBJECT

 public:
  TQuarnApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // The dialogs that the error display and the window use: the Qt ones
  // unless a test put its own in place (nullptr restores the Qt ones).
  TDialogs& Dialogs() { return *dialogs_; }
  void SetDialogs(TDialogs* dialogs) { dialogs_ = dialogs != nullptr ? dialogs : &qtDialogs_; }

 private:
  TQtDialogs qtDialogs_;
  TDialogs* dialogs_ = &qtDialogs_;
};

// Name "quarn", version 1.0.0.0 and the program's icon as the icon of every
// window.
void SetUpIdentity();

}  // namespace quarn::ui
