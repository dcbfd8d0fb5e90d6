// Loading a carried theme from its resource and putting it in force.
#include "ui/theme.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <optional>

#include "ui/error_display.h"

namespace quarn::ui {
namespace {

const char kThemeDirectory[] = ":/themes";

std::vector<QJsonObject> CarriedThemes() {
  std::vector<QJsonObject> themes;
  const QDir directory(QString::fromLatin1(kThemeDirectory));
  for (const QString& entry : directory.entryList(QDir::Files, QDir::Name)) {
    QFile file(directory.filePath(entry));
    if (!file.open(QIODevice::ReadOnly)) continue;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (document.isObject()) themes.push_back(document.object());
  }
  return themes;
}

// Sets each role named in `colours` ("Window": "#202020") in `group`.
void SetColours(QPalette& palette, QPalette::ColorGroup group, const QJsonObject& colours) {
  const QMetaEnum roles = QMetaEnum::fromType<QPalette::ColorRole>();
  for (auto it = colours.begin(); it != colours.end(); ++it) {
    bool known = false;
    const int role = roles.keyToValue(it.key().toLatin1().constData(), &known);
    if (known) palette.setColor(group, static_cast<QPalette::ColorRole>(role), QColor(it.value().toString()));
  }
}

}  // namespace

QStringList CarriedThemeNames() {
  QStringList names;
  for (const QJsonObject& theme : CarriedThemes()) names << theme.value(QStringLiteral("name")).toString();
  return names;
}

bool ApplyTheme(QApplication& application, const QString& name, TDialogs& dialogs) {
  std::optional<QJsonObject> chosen;
  for (const QJsonObject& theme : CarriedThemes()) {
    if (theme.value(QStringLiteral("name")).toString().compare(name, Qt::CaseInsensitive) == 0) {
      chosen = theme;
      break;
    }
  }
  if (!chosen) {
    dialogs.ShowErrorBox(QStringLiteral("Style '%1' not found").arg(name), ApplicationTitle(),
                         QMessageBox::Close);
    return false;
  }

  if (QStyle* style = QStyleFactory::create(chosen->value(QStringLiteral("style")).toString())) {
    QApplication::setStyle(style);
  }
  QPalette palette;
  SetColours(palette, QPalette::All, chosen->value(QStringLiteral("palette")).toObject());
  SetColours(palette, QPalette::Disabled, chosen->value(QStringLiteral("disabled")).toObject());
  QApplication::setPalette(palette);

  QStringList styleSheet;
  for (const QJsonValue line : chosen->value(QStringLiteral("styleSheet")).toArray()) {
    styleSheet << line.toString();
  }
  application.setStyleSheet(styleSheet.join(QLatin1Char('\n')));
  return true;
}

}  // namespace quarn::ui
