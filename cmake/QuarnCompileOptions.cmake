# Warnings and sanitizers shared by every target of the project.
add_library(quarn_options INTERFACE)
target_compile_options(quarn_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  $<$<BOOL:${QUARN_WERROR}>:-Werror>)
if(QUARN_SANITIZE)
  target_compile_options(quarn_options INTERFACE
    -fsanitize=${QUARN_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(quarn_options INTERFACE -fsanitize=${QUARN_SANITIZE})
endif()
