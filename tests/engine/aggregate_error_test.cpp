// The combined error's text: the count line, one line per member with its
// kind and text, at most ten members, then "...".
#include "engine/aggregate_error.h"

#include <gtest/gtest.h>

#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarn {
namespace {

TEST(CombinedError, ListsAtMostTenMembers) {
  auto missing = [](int n) {
    return std::make_exception_ptr(TQuarnError("File \"f" + std::to_string(n) + "\" does not exists."));
  };
  std::vector<std::exception_ptr> errors;
  for (int n = 0; n < 12; ++n) errors.push_back(missing(n));

  EXPECT_EQ(CombinedErrorText({errors[0]}),
            "One or more errors occurred\n1 exception(s):\n#0 Exception: File \"f0\" does not exists.");
  EXPECT_EQ(CombinedErrorText({errors[0], errors[1]}),
            "One or more errors occurred\n2 exception(s):\n#0 Exception: File \"f0\" does not exists.\n"
            "#1 Exception: File \"f1\" does not exists.");
  std::string twelve = "One or more errors occurred\n12 exception(s):";
  for (int n = 0; n < 10; ++n) {
    twelve += "\n#" + std::to_string(n) + " Exception: File \"f" + std::to_string(n) + "\" does not exists.";
  }
  twelve += "\n...";
  EXPECT_EQ(CombinedErrorText(errors), twelve);
}

TEST(CombinedError, NamesEachMemberByItsKind) {
  const std::vector<std::exception_ptr> errors = {
      std::make_exception_ptr(TPathError("The specified path was not found")),
      std::make_exception_ptr(std::bad_alloc()),
      std::make_exception_ptr(std::runtime_error("from the library")),
      std::make_exception_ptr(42),
  };
  EXPECT_EQ(CombinedErrorText(errors),
            "One or more errors occurred\n4 exception(s):\n"
            "#0 EPathError: The specified path was not found\n"
            "#1 EOutOfMemory: Out of memory\n"
            "#2 Exception: from the library\n"
            "#3 Exception: Unknown error");
  const TAggregateError combined(CombinedErrorText(errors), errors);
  EXPECT_STREQ(combined.KindName(), "EAggregateException");
  EXPECT_EQ(combined.Members().size(), 4u);
}

}  // namespace
}  // namespace quarn
