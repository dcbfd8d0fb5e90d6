// The combined error's text, member by member.
#include "engine/aggregate_error.h"

#include <algorithm>
#include <new>

namespace quarn {
namespace {

struct TMemberText {
  std::string kind;
  std::string text;
};

TMemberText DescribeError(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const TQuarnError& e) {
    return {e.KindName(), e.what()};
  } catch (const std::bad_alloc&) {
    return {"EOutOfMemory", "Out of memory"};
  } catch (const std::exception& e) {
    return {"Exception", e.what()};
  } catch (...) {
    return {"Exception", "Unknown error"};
  }
}

}  // namespace

std::string CombinedErrorText(const std::vector<std::exception_ptr>& errors) {
  std::string text = "One or more errors occurred\n" + std::to_string(errors.size()) + " exception(s):";
  const std::size_t shown = std::min<std::size_t>(errors.size(), 10);
  for (std::size_t n = 0; n < shown; ++n) {
    const TMemberText member = DescribeError(errors[n]);
    text += "\n#" + std::to_string(n) + " " + member.kind + ": " + member.text;
  }
  if (errors.size() > 10) text += "\n...";
  return text;
}

}  // namespace quarn
