// The colour themes carried inside the program, and putting one in force.
//
// A theme is a resource under :/themes/ (ui/themes/), a JSON object:
//   "name"        the theme's name, looked up without regard to case
//   "style"       the Qt style it builds on
//   "palette"     colour per QPalette role, for every colour group, and
//   "disabled"    the colours that differ for disabled controls
//   "styleSheet"  lines of a Qt style sheet for what the palette leaves out
// The program carries one, "Windows10 Dark", as the resource WINDOWSDARK.
#pragma once

#include <QString>
#include <QStringList>

#include "ui/dialogs.h"

class QApplication;

namespace quarn::ui {

// The names of the themes carried inside the program.
QStringList CarriedThemeNames();

// Puts the carried theme called `name` (compared without regard to case) in
// force for the whole application and returns true. When no carried theme
// has that name, shows "Style '<name>' not found" in an error box with a
// Close button and returns false, leaving the appearance as it was.
bool ApplyTheme(QApplication& application, const QString& name, TDialogs& dialogs);

}  // namespace quarn::ui
