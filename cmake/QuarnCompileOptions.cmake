# Warnings and sanitizers shared by every target of the project.
add_library(quarn_options INTERFACE)
target_compile_options(quarn_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  $<$<BOOL:${QUARN_WERROR}>:-Werror>)
# GCC 12 at -O3 warns that std::string's own copies may overlap where they
# cannot (GCC bug 105329), so a Release build with warnings as errors
# failed on plain string assignments. The warning is left on elsewhere.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(quarn_options INTERFACE $<$<CONFIG:Release>:-Wno-restrict>)
endif()
if(QUARN_SANITIZE)
  target_compile_options(quarn_options INTERFACE
    -fsanitize=${QUARN_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(quarn_options INTERFACE -fsanitize=${QUARN_SANITIZE})
endif()
