# The Debian package, made by CPack from the same install rules as `cmake --install`:
#   cmake --build build --target package   (or: cd build && cpack -G DEB)
# gives build/ordana_<version>_amd64.deb, whose dependencies dpkg-shlibdeps computes from the binaries.
include(GNUInstallDirs)

set(_packaging ${CMAKE_CURRENT_LIST_DIR})
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/ordana)
set(_gz ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_gz})

# Debian wants manual pages and the changelog compressed, reproducibly (no name, no time stamp).
set(_compressed)
foreach(_file ordana.1 ordana-cli.1 changelog)
  add_custom_command(OUTPUT ${_gz}/${_file}.gz
                     COMMAND gzip -9nc ${_packaging}/${_file} > ${_gz}/${_file}.gz
                     DEPENDS ${_packaging}/${_file} VERBATIM)
  list(APPEND _compressed ${_gz}/${_file}.gz)
endforeach()
add_custom_target(ordana_packaging_docs ALL DEPENDS ${_compressed})

install(FILES ${_gz}/ordana.1.gz ${_gz}/ordana-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_packaging}/copyright ${_gz}/changelog.gz DESTINATION ${_doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ordana)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Echipa Ordana")
set(CPACK_PACKAGE_CONTACT "Echipa Ordana <ordana@ordana.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "evaluarea biodiversitatii: indici de diversitate in foi de calcul")
# The long description; CPack puts the summary above it and indents it as Debian wants.
set(CPACK_PACKAGE_DESCRIPTION
    "Ordana citeste abundentele speciilor dintr-o foaie de calcul (SPECIA,
ABUNDENTA), calculeaza bogatia specifica si indicii Simpson, Shannon,
Brillouin, Berger-Parker, McIntosh, Margalef, Menhinick si Gleason si
scrie rezultatele intr-un tabel langa date, salvand registrul pe loc.

Pachetul contine programul cu ferestre (ordana) si comanda ordana-cli
pentru prelucrari in serie.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside the libraries dpkg-shlibdeps finds: the indices window's path box is Arial, drawn by fontconfig as
# Liberation Sans, its metric twin; a bare Debian has only DejaVu Sans, wider than the box was sized for.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only what the install rules name; no test or benchmark programs.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/")
include(CPack)
