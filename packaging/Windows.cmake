# The portable zip of the Windows build (CPack's ZIP generator): ordana.exe and ordana-cli.exe at its root, the licence,
# expat's licence (linked in) and a short note in Romanian on how to run it.
set(_generated ${PROJECT_BINARY_DIR}/generated/windows)
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/LISEZ-MA.txt ${_generated}/LISEZ-MA.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright ${_generated}/LICENTA.txt COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/third_party/expat/COPYING ${_generated}/expat-COPYING.txt COPYONLY)
install(FILES ${_generated}/LISEZ-MA.txt ${_generated}/LICENTA.txt ${_generated}/expat-COPYING.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
# The programs in the zip stripped, as in the installer.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME ordana)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Echipa Ordana")
set(CPACK_SYSTEM_NAME windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
