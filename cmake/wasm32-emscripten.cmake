# Building for WebAssembly with Debian's emscripten (3.1.6), through emcmake. Its cache is frozen: only the
# libraries it ships are linked, no port is fetched; zlib and expat come from third_party/. The page and the
# tests alike catch C++ exceptions (the engines and the logic throw them) with WebAssembly's own (Chrome 95,
# Firefox 100, Safari 15.2 and later): emscripten's older way calls into scripts for every call that may throw,
# and makes the page a sixth larger.
if(NOT EMSCRIPTEN_ROOT_PATH)
  find_program(_emcc emcc REQUIRED)
  get_filename_component(_emcc_real ${_emcc} REALPATH)
  get_filename_component(EMSCRIPTEN_ROOT_PATH ${_emcc_real} DIRECTORY)
endif()
include(${EMSCRIPTEN_ROOT_PATH}/cmake/Modules/Platform/Emscripten.cmake)

set(CMAKE_C_FLAGS_INIT "-fwasm-exceptions")
set(CMAKE_CXX_FLAGS_INIT "-fwasm-exceptions")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fwasm-exceptions -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=4GB")

# The test programs run under node, on the machine's files (NODERAWFS is linked into them, never into the
# page). node 18 and later have a fetch that emscripten 3.1.6 would use for its own .wasm beside the script.
find_program(ORDANA_NODE NAMES node nodejs REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ORDANA_NODE};--no-experimental-fetch" CACHE STRING "" FORCE)
