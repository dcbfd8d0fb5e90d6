// How an error that left a window's handler is turned into the text of its
// message box.
#include "engine/error_display_text.h"

#include "engine/aggregate_error.h"
#include "util/errors.h"

namespace quarn {
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

std::string ErrorDisplayTextOf(std::exception_ptr error) {
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
  return WithClosingFullStop(std::move(text));
}

}  // namespace quarn
