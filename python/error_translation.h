// The engine's errors as Python exceptions. A file that is not there raises
// FileNotFoundError as open() does (errno ENOENT, "No such file or
// directory", the name), in quarn-scan's words; a path that no file can have or a folder the scan
// cannot list, quarn.PathError; a file that changed while it was scanned
// or inflated, quarn.FileChangedError; any other engine error,
// quarn.QuarnError; each with the engine's own text. A scan in
// which one file failed raises that file's error; one in which several
// failed raises quarn.ScanError, an ExceptionGroup of them whose message is
// the engine's combined text.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace quarn::python {

// Adds QuarnError, PathError, FileChangedError and ScanError to `module`
// and registers the translator of the engine's errors.
void RegisterErrors(pybind11::module_& module);

// The FileChangedError (not raised) that the engine raises for the file
// `fileName` when it changed between two looks at it.
pybind11::object FileChangedErrorFor(const std::string& fileName);

// The ScanError (not raised) that the engine would raise for a scan whose
// files failed with `errors`, in this order; each member as given.
pybind11::object CombinedScanError(const pybind11::list& errors);

}  // namespace quarn::python
