# The built-in inflate engine: Debian's static zlib, linked into each program.
#
# Its symbols must never reach a program's dynamic symbol table: shared
# libraries loaded later (Qt's image plugins, or a zlib dropped beside the
# program) would otherwise bind to our copy, or ours to theirs. Every
# executable that links quarn_zlib gets --exclude-libs for the archive.
find_path(QUARN_ZLIB_INCLUDE_DIR zlib.h REQUIRED)
find_library(QUARN_ZLIB_STATIC NAMES libz.a REQUIRED)
add_library(quarn_zlib STATIC IMPORTED GLOBAL)
set_target_properties(quarn_zlib PROPERTIES
  IMPORTED_LOCATION ${QUARN_ZLIB_STATIC}
  INTERFACE_INCLUDE_DIRECTORIES ${QUARN_ZLIB_INCLUDE_DIR})
get_filename_component(QUARN_ZLIB_ARCHIVE_NAME ${QUARN_ZLIB_STATIC} NAME)
target_link_options(quarn_zlib INTERFACE "LINKER:--exclude-libs,${QUARN_ZLIB_ARCHIVE_NAME}")
