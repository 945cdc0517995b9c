# Compiler options shared by every target of ours (not by GoogleTest):
# warnings as errors everywhere, sanitizers for native builds, static runtime
# for Windows so the DLL and tools need nothing beside system DLLs.

add_library(feedlet_options INTERFACE)
target_compile_options(feedlet_options INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-align -Wformat=2 -Werror)

if(WIN32)
  # Unicode-agnostic: we name every A/W API explicitly.
  target_compile_definitions(feedlet_options INTERFACE
    WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601 __USE_MINGW_ANSI_STDIO=0)
  target_link_options(feedlet_options INTERFACE -static -static-libgcc -static-libstdc++)
  # No link time in the PE header (nor in the export table): a build of one
  # commit gives the same bytes today and tomorrow. Windows reads the field
  # only to check bound imports, which nothing binds to a plugin.
  target_link_options(feedlet_options INTERFACE -Wl,--no-insert-timestamp)
endif()

if(FEEDLET_RELEASE)
  # What is shipped: no symbols or debug information, and no path of the
  # machine that built it (a clone in another folder gives the same bytes).
  target_compile_options(feedlet_options INTERFACE
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
    -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
  target_link_options(feedlet_options INTERFACE -s)
endif()

if(FEEDLET_SANITIZE)
  set(_san -fsanitize=${FEEDLET_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${_san})
  add_link_options(-fsanitize=${FEEDLET_SANITIZE})
endif()

if(FEEDLET_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Helper: apply our options to a target.
function(feedlet_target target)
  target_link_libraries(${target} PRIVATE feedlet_options)
endfunction()
