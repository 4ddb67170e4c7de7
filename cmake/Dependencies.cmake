# Every outside library, found once for the whole tree. The Windows cross build finds zlib in MinGW's root,
# compiles the expat copy of third_party/ (Debian has none for MinGW) and takes xxhash's one header alone;
# it has no ISA-L: the zip layer's compression falls back to zlib there. The WebAssembly build compiles zlib
# and expat from third_party/ and takes xxhash's header alone too.
find_package(Threads REQUIRED)
if(NOT EMSCRIPTEN)
  find_package(ZLIB REQUIRED)
endif()

add_library(ordana_xxhash INTERFACE)
if(EMSCRIPTEN)
  enable_language(C)
  add_subdirectory(${PROJECT_SOURCE_DIR}/third_party/expat ${PROJECT_BINARY_DIR}/third_party/expat)
  add_subdirectory(${PROJECT_SOURCE_DIR}/third_party/zlib ${PROJECT_BINARY_DIR}/third_party/zlib)
  find_file(ORDANA_XXHASH_HEADER xxhash.h PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  configure_file(${ORDANA_XXHASH_HEADER} ${PROJECT_BINARY_DIR}/third_party/xxhash/xxhash.h COPYONLY)
  target_include_directories(ordana_xxhash SYSTEM INTERFACE ${PROJECT_BINARY_DIR}/third_party/xxhash)
  target_compile_definitions(ordana_xxhash INTERFACE "XXH_INLINE_ALL=")
elseif(WIN32)
  enable_language(C)
  # Every program one file: libstdc++, libgcc and winpthread linked in.
  add_link_options(-static)
  # The portable zip holds the program at its root.
  set(CMAKE_INSTALL_BINDIR . CACHE PATH "Where the programs go in the portable zip" FORCE)
  add_subdirectory(${PROJECT_SOURCE_DIR}/third_party/expat ${PROJECT_BINARY_DIR}/third_party/expat)
  # Copied alone into the build tree, so that no other header of the build machine enters the cross build.
  find_file(ORDANA_XXHASH_HEADER xxhash.h PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  configure_file(${ORDANA_XXHASH_HEADER} ${PROJECT_BINARY_DIR}/third_party/xxhash/xxhash.h COPYONLY)
  target_include_directories(ordana_xxhash SYSTEM INTERFACE ${PROJECT_BINARY_DIR}/third_party/xxhash)
  target_compile_definitions(ordana_xxhash INTERFACE "XXH_INLINE_ALL=")
else()
  find_package(PkgConfig REQUIRED)
  find_package(EXPAT REQUIRED)
  pkg_check_modules(XXHASH REQUIRED IMPORTED_TARGET libxxhash)
  pkg_check_modules(ISAL REQUIRED IMPORTED_TARGET libisal)
  target_link_libraries(ordana_xxhash INTERFACE PkgConfig::XXHASH)
endif()

if(ORDANA_BUILD_GUI)
  set(_qt_components Widgets)
  if(BUILD_TESTING)
    list(APPEND _qt_components Test)
  endif()
  find_package(Qt6 REQUIRED COMPONENTS ${_qt_components})
endif()
if(BUILD_TESTING AND PROJECT_IS_TOP_LEVEL)
  if(WIN32 OR EMSCRIPTEN)
    # Built by the cross compiler from Debian's sources (googletest), as GoogleTest itself recommends.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest/googletest ${PROJECT_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

# The cross-built programs run under Wine, in a prefix of the build tree's own (scripts/wine-run.sh.in).
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(ORDANA_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
  configure_file(${PROJECT_SOURCE_DIR}/scripts/wine-run.sh.in ${PROJECT_BINARY_DIR}/wine-run.sh @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                  WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run.sh)
endif()
