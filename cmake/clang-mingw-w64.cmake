# Cross-compiles for 64-bit Windows with clang, as a second compiler next to GCC: the MinGW-w64
# headers and import libraries, GCC's MinGW libstdc++ (posix threads), and lld as the linker.
#
# Debian's MinGW GCC lives in lib/gcc/x86_64-w64-mingw32/<N>-posix, a folder name clang cannot
# parse as a version, so clang finds neither libstdc++ nor crtbegin.o there by itself. We ask
# that GCC where its folder is and pass the paths explicitly. GNU ld links clang's objects too,
# but warns about libstdc++ sections that differ in size from clang's; lld does not.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUIBSHARE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${QUIBSHARE_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${QUIBSHARE_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${QUIBSHARE_MINGW_TRIPLE}-windres)
# Without a sysroot clang would also search the host's /usr/include.
set(CMAKE_SYSROOT /usr/${QUIBSHARE_MINGW_TRIPLE})

execute_process(
  COMMAND ${QUIBSHARE_MINGW_TRIPLE}-g++-posix -print-libgcc-file-name
  OUTPUT_VARIABLE QUIBSHARE_MINGW_LIBGCC
  OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE QUIBSHARE_MINGW_GCC_RESULT)
if(NOT QUIBSHARE_MINGW_GCC_RESULT EQUAL 0 OR NOT EXISTS "${QUIBSHARE_MINGW_LIBGCC}")
  message(FATAL_ERROR "${QUIBSHARE_MINGW_TRIPLE}-g++-posix not found: install g++-mingw-w64-x86-64-posix")
endif()
get_filename_component(QUIBSHARE_MINGW_GCC_DIR "${QUIBSHARE_MINGW_LIBGCC}" DIRECTORY)
set(QUIBSHARE_MINGW_CXX_INCLUDE "${QUIBSHARE_MINGW_GCC_DIR}/include/c++")

# These replace the C++ library folders clang would guess, in their place before clang's own.
set(CMAKE_CXX_FLAGS_INIT
  "-stdlib++-isystem ${QUIBSHARE_MINGW_CXX_INCLUDE} -stdlib++-isystem ${QUIBSHARE_MINGW_CXX_INCLUDE}/${QUIBSHARE_MINGW_TRIPLE} -stdlib++-isystem ${QUIBSHARE_MINGW_CXX_INCLUDE}/backward")
# -B finds crtbegin.o/crtend.o, -L libstdc++ and libgcc; -pthread links winpthreads, which GCC's
# libstdc++ needs and GCC itself would add.
set(QUIBSHARE_MINGW_LINK_FLAGS "-fuse-ld=lld -B${QUIBSHARE_MINGW_GCC_DIR} -L${QUIBSHARE_MINGW_GCC_DIR} -pthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${QUIBSHARE_MINGW_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${QUIBSHARE_MINGW_LINK_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${QUIBSHARE_MINGW_LINK_FLAGS}")

set(CMAKE_FIND_ROOT_PATH /usr/${QUIBSHARE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
