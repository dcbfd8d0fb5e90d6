// The combined error of a parallel run: one error that holds every error
// its iterations raised, with the text that lists them. The parallel loop
// raises it; the window's error display and the command line show its text.
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "util/errors.h"

namespace quarn {

// Its text is the whole multi-line listing made by CombinedErrorText; the
// members are kept for callers that want them.
class TAggregateError : public TQuarnError {
 public:
  TAggregateError(std::string text, std::vector<std::exception_ptr> members)
      : TQuarnError(std::move(text)), members_(std::move(members)) {}
  const char* KindName() const noexcept override { return "EAggregateException"; }
  const std::vector<std::exception_ptr>& Members() const { return members_; }

 private:
  std::vector<std::exception_ptr> members_;
};

// The text of the combined error:
//   One or more errors occurred
//   2 exception(s):
//   #0 Exception: File "a" does not exists.
//   #1 Exception: File "b" does not exists.
// listing at most ten members, then "..." when there were more. A member
// is named by its kind (TQuarnError::KindName, "EOutOfMemory" for
// std::bad_alloc, else "Exception") and its own text.
std::string CombinedErrorText(const std::vector<std::exception_ptr>& errors);

}  // namespace quarn
