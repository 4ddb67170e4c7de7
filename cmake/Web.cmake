# The WebAssembly build's programs. Those run under node (ordana-cli, the tests) read and write the machine's
# files through NODERAWFS; the page keeps its files in memory.
target_link_options(ordana-cli PRIVATE -sNODERAWFS=1 -sEXIT_RUNTIME=1)
add_subdirectory(src/app/web)
