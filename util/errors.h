// The program's errors. Each carries its message text and the name of its
// kind, which the combined error of a failed scan lists beside each member
// ("#0 Exception: File "x" does not exists.").
#pragma once

#include <stdexcept>
#include <string>

namespace quarn {

// The general error kind, used for every error the program raises itself.
class TQuarnError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  virtual const char* KindName() const noexcept { return "Exception"; }
};

// An error from the paths and listings of the scan driver (a bad or missing
// directory). Kept apart so that callers can tell it from a file's error.
class TPathError : public TQuarnError {
 public:
  using TQuarnError::TQuarnError;
  const char* KindName() const noexcept override { return "EPathError"; }
};

// A file that is not there (or is a folder), raised by the mapped file with
// the text File "x" does not exists. Its own type lets the command line and
// the Python module tell it without reading the text; its kind name is the
// general one, as the combined error has always listed it.
class TMissingFileError : public TQuarnError {
 public:
  using TQuarnError::TQuarnError;
};

// Input that changed while it was scanned: a file rewritten, cut short or
// grown during its scan, or a buffer changed under the scan. What was read
// of it no longer holds, so nothing counted from it is kept. The detector,
// which sees only memory, raises it without a name; whoever knows the file
// raises it again with the name. The one type for every such change, in
// the scan, the extraction and the Python module alike; its kind name is
// the general one.
class TFileChangedError : public TQuarnError {
 public:
  // The data changed while it was being scanned.
  TFileChangedError() : TQuarnError("The data changed while it was being scanned.") {}
  // File "x" changed while it was being scanned.
  explicit TFileChangedError(const std::string& fileName)
      : TQuarnError("File \"" + fileName + "\" changed while it was being scanned.") {}
  // File "x" changed while it was being scanned: `detail`
  TFileChangedError(const std::string& fileName, const std::string& detail)
      : TQuarnError("File \"" + fileName + "\" changed while it was being scanned: " + detail) {}
  // The data`where` changed while it was being inflated. (`where` names
  // the file, as " of file "x"", or is empty for a caller's buffer.)
  static TFileChangedError WhileInflating(const std::string& where) {
    return TFileChangedError(TText{"The data" + where + " changed while it was being inflated."});
  }

 private:
  struct TText {
    std::string Text;
  };
  explicit TFileChangedError(const TText& text) : TQuarnError(text.Text) {}
};

// An error's text as the program shows it to a person: a full stop is
// appended when the text is not empty and its last character comes after
// the full stop in code order (a letter, a digit, a colon, a slash, a
// closing bracket), but not after ".", ",", "-", ")", "!" or a blank.
inline std::string WithClosingFullStop(std::string text) {
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

}  // namespace quarn
