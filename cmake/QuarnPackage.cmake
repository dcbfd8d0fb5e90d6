# The Debian package of everything that `cmake --install` puts in place:
#   cpack -G DEB --config build/CPackConfig.cmake   (scripts/package does it)
# gives quarn_<version>_amd64.deb. dpkg-shlibdeps finds the libraries the
# programs load; what it cannot see (the Python interpreter the module was
# built for, the programs that the Python part and the bash completion
# need) is named here.
#
# The copyright file is made from LICENSE and the copyright files of the
# Debian packages whose code is compiled into the programs, read from this
# machine, so it names exactly what this build links.

if(WIN32)
  return()  # the Windows download is a zip, made by scripts/package --windows
endif()

# Included after add_subdirectory(python): the interpreter is found there.
set(QUARN_PACKAGE_PYTHON_MAJOR "")
if(TARGET quarn_python_module)
  get_directory_property(QUARN_PACKAGE_PYTHON_MAJOR DIRECTORY python DEFINITION Python3_VERSION_MAJOR)
  get_directory_property(QUARN_PACKAGE_PYTHON_MINOR DIRECTORY python DEFINITION Python3_VERSION_MINOR)
endif()

# Each entry: Debian package, then what it is and where it went.
set(QUARN_BUNDLED
  "zlib1g-dev|zlib, linked statically into every program and the Python module"
  "libcli11-dev|CLI11, compiled into quarn-scan"
  "nlohmann-json3-dev|JSON for Modern C++, compiled into quarn-scan")
if(TARGET quarn_python_module)
  list(APPEND QUARN_BUNDLED "pybind11-dev|pybind11, compiled into the Python module")
endif()

file(READ ${PROJECT_SOURCE_DIR}/LICENSE QUARN_LICENSE_TEXT)
set(QUARN_BUNDLED_LIST "")
set(QUARN_BUNDLED_NOTICES "")
foreach(entry IN LISTS QUARN_BUNDLED)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 package)
  list(GET parts 1 what)
  set(notice_file /usr/share/doc/${package}/copyright)
  if(NOT EXISTS ${notice_file})
    message(FATAL_ERROR "${notice_file} is missing: the package's copyright file needs it (is ${package} installed?)")
  endif()
  file(READ ${notice_file} notice)
  string(APPEND QUARN_BUNDLED_LIST "  ${what} (${package})\n")
  string(APPEND QUARN_BUNDLED_NOTICES "\n==== ${package}: ${notice_file}\n\n${notice}")
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME quarn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quarn")
set(CPACK_PACKAGE_CONTACT "Quarn maintainers <quarn@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finds zlib streams and raw deflate data inside files")
set(CPACK_PACKAGE_DESCRIPTION
    "Quarn tests every byte position of the files it is given as the start of a zlib stream or of raw deflate data, confirms each candidate by inflating it, and reports what it found. It comes as a desktop window (quarn), a command-line scanner (quarn-scan) and a Python package (quarn) for Debian's own python3.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps' findings are added to these.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
if(QUARN_PACKAGE_PYTHON_MAJOR)
  # The module is built for one interpreter's ABI (cpython-3XY).
  math(EXPR next_minor "${QUARN_PACKAGE_PYTHON_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "python3 (>= ${QUARN_PACKAGE_PYTHON_MAJOR}.${QUARN_PACKAGE_PYTHON_MINOR}~), python3 (<< ${QUARN_PACKAGE_PYTHON_MAJOR}.${next_minor})")
  # The map needs matplotlib, the cluster scan Dask; quarn itself imports
  # neither, and numpy only serves as one kind of buffer to scan_buffer.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion, python3-matplotlib, python3-dask, python3-distributed")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-numpy")
else()
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
