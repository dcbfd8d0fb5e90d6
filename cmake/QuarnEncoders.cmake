# The encoders besides zlib that a stream's fingerprint tries: Debian's
# libdeflate and zopfli, linked as shared libraries (dpkg-shlibdeps adds
# them to the package's dependencies). Debian ships neither for mingw-w64,
# so the Windows build goes without them and fingerprints with zlib alone.
option(QUARN_WITH_ENCODERS "Fingerprint streams with libdeflate and zopfli too" ${QUARN_LINUX_ONLY_DEFAULT})
add_library(quarn_encoders INTERFACE)
if(QUARN_WITH_ENCODERS)
  find_path(QUARN_LIBDEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)
  find_library(QUARN_LIBDEFLATE_LIBRARY NAMES deflate REQUIRED)
  find_path(QUARN_ZOPFLI_INCLUDE_DIR zopfli/zopfli.h REQUIRED)
  find_library(QUARN_ZOPFLI_LIBRARY NAMES zopfli REQUIRED)
  target_include_directories(quarn_encoders SYSTEM INTERFACE ${QUARN_LIBDEFLATE_INCLUDE_DIR} ${QUARN_ZOPFLI_INCLUDE_DIR})
  target_link_libraries(quarn_encoders INTERFACE ${QUARN_LIBDEFLATE_LIBRARY} ${QUARN_ZOPFLI_LIBRARY})
  target_compile_definitions(quarn_encoders INTERFACE QUARN_HAVE_LIBDEFLATE=1 QUARN_HAVE_ZOPFLI=1)
else()
  target_compile_definitions(quarn_encoders INTERFACE QUARN_HAVE_LIBDEFLATE=0 QUARN_HAVE_ZOPFLI=0)
endif()
