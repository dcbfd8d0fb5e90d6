// Turning the engine's C++ errors into Python exceptions and back.
//
// The exception types are made once, when the module is imported, and live
// as long as the process: they are never released, so that no destructor
// runs after the interpreter has gone.
#include "python/error_translation.h"

#include <cerrno>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "engine/aggregate_error.h"
#include "util/errors.h"

namespace py = pybind11;

namespace quarn::python {
namespace {

PyObject* QuarnErrorType = nullptr;
PyObject* PathErrorType = nullptr;
PyObject* FileChangedErrorType = nullptr;
PyObject* ScanErrorType = nullptr;

// The engine's texts are UTF-8, but file names in them are bytes as the
// file system gave them: what does not decode shows as U+FFFD.
py::str Text(const std::string& text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

py::object Instance(PyObject* type, const std::string& text) {
  return py::reinterpret_borrow<py::object>(type)(Text(text));
}

// The words quarn-scan and Python's own open() give for a name that is not
// there; the engine's text (File "x" does not exists.) is the window's.
constexpr char kNoSuchFile[] = "No such file or directory";
constexpr std::string_view kMissingBefore = "File \"";
constexpr std::string_view kMissingAfter = "\" does not exists.";

// The name in a missing file's text, whole between the text's fixed words.
std::string MissingFileName(const TMissingFileError& e) {
  const std::string_view text = e.what();
  if (text.size() < kMissingBefore.size() + kMissingAfter.size() || !text.starts_with(kMissingBefore) ||
      !text.ends_with(kMissingAfter)) {
    return std::string(text);
  }
  return std::string(text.substr(kMissingBefore.size(), text.size() - kMissingBefore.size() - kMissingAfter.size()));
}

// FileNotFoundError as Python raises it for a missing name: errno ENOENT,
// strerror "No such file or directory" and the name decoded as os.fsdecode
// does, so that it equals the str path it was given as.
py::object FileNotFound(const std::string& name) {
  PyObject* decoded = PyUnicode_DecodeFSDefaultAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_borrow<py::object>(PyExc_FileNotFoundError)(ENOENT, kNoSuchFile,
                                                                      py::reinterpret_steal<py::str>(decoded));
}

// One member of a failed scan as a Python exception instance.
py::object MemberException(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const TPathError& e) {
    return Instance(PathErrorType, e.what());
  } catch (const TFileChangedError& e) {
    return Instance(FileChangedErrorType, e.what());
  } catch (const TMissingFileError& e) {
    return FileNotFound(MissingFileName(e));
  } catch (const TQuarnError& e) {
    return Instance(QuarnErrorType, e.what());
  } catch (const std::bad_alloc&) {
    return py::reinterpret_borrow<py::object>(PyExc_MemoryError)();
  } catch (const std::exception& e) {
    return Instance(PyExc_RuntimeError, e.what());
  }
}

void Raise(const py::object& exception) { PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr()); }

py::object ScanErrorOf(const std::string& text, const py::list& members) {
  return py::reinterpret_borrow<py::object>(ScanErrorType)(Text(text), members);
}

PyObject* NewType(const char* name, const char* doc, PyObject* bases) {
  PyObject* type = PyErr_NewExceptionWithDoc(name, doc, bases, nullptr);
  if (type == nullptr) throw py::error_already_set();
  return type;
}

}  // namespace

void RegisterErrors(py::module_& module) {
  QuarnErrorType = NewType("quarn.QuarnError", "An error that the scan engine raised, with the engine's text.",
                           PyExc_Exception);
  PathErrorType = NewType("quarn.PathError",
                          "A path that no file can have (empty, or with a NUL byte), refused before anything is "
                          "opened, or a folder the scan cannot list (unreadable, a name too long or of spaces "
                          "only, changed while it was listed).",
                          QuarnErrorType);
  FileChangedErrorType = NewType("quarn.FileChangedError",
                                 "A file that changed while it was being scanned or inflated: rewritten, cut short "
                                 "or grown. Nothing counted from it is kept.",
                                 QuarnErrorType);
  const py::object exceptionGroup = py::module_::import("builtins").attr("ExceptionGroup");
  const py::tuple scanErrorBases = py::make_tuple(py::handle(QuarnErrorType), exceptionGroup);
  ScanErrorType = NewType("quarn.ScanError",
                          "Several files of one scan failed. The message is the engine's combined text; "
                          "`exceptions` holds each file's error.",
                          scanErrorBases.ptr());
  module.attr("QuarnError") = py::handle(QuarnErrorType);
  module.attr("PathError") = py::handle(PathErrorType);
  module.attr("FileChangedError") = py::handle(FileChangedErrorType);
  module.attr("ScanError") = py::handle(ScanErrorType);

  py::register_exception_translator([](std::exception_ptr error) {
    if (!error) return;
    try {
      std::rethrow_exception(error);
    } catch (const TAggregateError& e) {
      if (e.Members().size() == 1) {
        Raise(MemberException(e.Members().front()));
        return;
      }
      py::list members;
      for (const std::exception_ptr& member : e.Members()) members.append(MemberException(member));
      Raise(ScanErrorOf(e.what(), members));
    } catch (const TQuarnError&) {
      Raise(MemberException(error));
    }
  });
}

py::object FileChangedErrorFor(const std::string& fileName) {
  return MemberException(std::make_exception_ptr(TFileChangedError(fileName)));
}

py::object CombinedScanError(const py::list& errors) {
  std::vector<std::exception_ptr> members;
  for (const py::handle error : errors) {
    const std::string text = py::str(error);
    if (py::isinstance(error, py::handle(PathErrorType))) {
      members.push_back(std::make_exception_ptr(TPathError(text)));
    } else if (py::isinstance(error, py::handle(PyExc_FileNotFoundError)) &&
               py::isinstance<py::str>(error.attr("filename"))) {
      // A missing file made by FileNotFound: the combined text names it in
      // the engine's words, as a scan on this machine does.
      const py::bytes name = py::reinterpret_steal<py::bytes>(PyUnicode_EncodeFSDefault(error.attr("filename").ptr()));
      if (!name) throw py::error_already_set();
      members.push_back(std::make_exception_ptr(TMissingFileError(std::string(kMissingBefore) +
                                                                  std::string(name) + std::string(kMissingAfter))));
    } else {
      members.push_back(std::make_exception_ptr(TQuarnError(text)));
    }
  }
  return ScanErrorOf(CombinedErrorText(members), errors);
}

}  // namespace quarn::python
