# CLI11 and nlohmann-json are header-only. A cross build takes Debian's
# headers of the build machine, but never /usr/include as a whole, whose
# glibc headers would shadow mingw-w64's: each library's own folder is
# linked into a folder of the build tree that holds nothing else.
if(NOT CMAKE_CROSSCOMPILING)
  return()
endif()
set(QUARN_HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${QUARN_HEADER_ONLY_DIR})
foreach(entry "CLI11::CLI11=CLI" "nlohmann_json::nlohmann_json=nlohmann")
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 target)
  list(GET entry 1 folder)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: scripts/setup installs it")
  endif()
  file(CREATE_LINK /usr/include/${folder} ${QUARN_HEADER_ONLY_DIR}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${QUARN_HEADER_ONLY_DIR})
endforeach()
