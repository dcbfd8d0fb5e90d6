// How an error that left a handler is turned into the caption and text of
// its message box.
#include "ui/error_display.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <string>

#include "engine/aggregate_error.h"
#include "util/errors.h"

namespace quarn::ui {
namespace {

// The text of the innermost cause below `error` whose text is not empty;
// empty when `error` has no such cause.
std::string InnermostCauseText(const std::exception& error) {
  const auto* nested = dynamic_cast<const std::nested_exception*>(&error);
  if (nested == nullptr || nested->nested_ptr() == nullptr) return {};
  try {
    std::rethrow_exception(nested->nested_ptr());
  } catch (const std::exception& cause) {
    std::string deeper = InnermostCauseText(cause);
    return deeper.empty() ? std::string(cause.what()) : deeper;
  } catch (...) {
    return {};
  }
}

}  // namespace

QString ApplicationTitle(const QString& executablePath) {
  const QString stem = QFileInfo(executablePath).fileName().section(QLatin1Char('.'), 0, 0);
  return stem.left(1) + stem.mid(1).toLower();
}

QString ApplicationTitle() { return ApplicationTitle(QCoreApplication::applicationFilePath()); }

QString ErrorDisplayText(std::exception_ptr error) {
  std::string text;
  try {
    std::rethrow_exception(error);
  } catch (const TAggregateError& combined) {
    text = combined.what();
  } catch (const std::exception& other) {
    text = InnermostCauseText(other);
    if (text.empty()) text = other.what();
  } catch (...) {
    text = "Unknown error";
  }
  // Error texts are UTF-8; a trailing byte above '.' is exactly a last
  // character above U+002E.
  return QString::fromStdString(WithClosingFullStop(std::move(text)));
}

void ShowHandlerError(TDialogs& dialogs, std::exception_ptr error) {
  dialogs.ShowErrorBox(ErrorDisplayText(std::move(error)), ApplicationTitle(), QMessageBox::Ok);
}

}  // namespace quarn::ui
