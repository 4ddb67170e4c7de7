# The Windows build's tests, run under Wine (the build's wine-run.sh): the unit and engine tests that drive
# no Linux program, the Windows file layer's saves, and ordana-cli.exe against the Linux build's ordana-cli.
# One prefix for them all: made by the first test, its wineserver ended by the last.
add_test(NAME wine_start COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} cmd /c exit)
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
add_test(NAME wine_stop COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --stop)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

function(ordana_add_wine_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE ordana_test_support GTest::gtest_main)
  # MinGW's GCC 12 at -O3 sees an impossible overlap in std::string's operator+ inlined into the tests.
  target_compile_options(${name} PRIVATE -Wno-restrict)
  # Listed when ctest runs, after the prefix is up, and patiently: a fresh Wine prefix starts slowly.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 600 DISCOVERY_MODE PRE_TEST
                       PROPERTIES ENVIRONMENT "ORDANA_FIXTURES=${CMAKE_CURRENT_SOURCE_DIR}/fixtures"
                                  FIXTURES_REQUIRED wine)
endfunction()

ordana_add_wine_test(common_tests common/ArithmeticTest.cpp common/CellValueTest.cpp common/CharconvTest.cpp
                     common/TextTest.cpp)
target_link_libraries(common_tests PRIVATE ordana_common)

ordana_add_wine_test(analysis_tests analysis/SpeciesSampleTest.cpp analysis/DiversityIndicesTest.cpp)
target_link_libraries(analysis_tests PRIVATE ordana_analysis)

ordana_add_wine_test(job_tests job/DataSheetTest.cpp job/RealWorkbookTest.cpp job/ResultsWriterTest.cpp
                     job/SheetReaderTest.cpp)
target_link_libraries(job_tests PRIVATE ordana_job ordana_spreadsheet)

ordana_add_wine_test(cli_tests cli/BatchTest.cpp)
target_link_libraries(cli_tests PRIVATE ordana_cli_lib ordana_spreadsheet)
target_include_directories(cli_tests PRIVATE ${PROJECT_SOURCE_DIR}/src)

# The Windows file layer's saves take the place of the POSIX ones (and huge pages, which Windows does not
# advise, of LargeBufferTest).
ordana_add_wine_test(container_tests spreadsheet/CompoundFileTest.cpp spreadsheet/WindowsFileTest.cpp)
target_link_libraries(container_tests PRIVATE ordana_container ordana_xls)

ordana_add_wine_test(xls_tests spreadsheet/XlsRecordTest.cpp spreadsheet/XlsEngineTest.cpp
                     spreadsheet/XlsWriterPinTest.cpp)
target_link_libraries(xls_tests PRIVATE ordana_xls ordana_spreadsheet ordana_container ordana_analysis ordana_job ordana_xxhash)
target_include_directories(xls_tests PRIVATE ${PROJECT_SOURCE_DIR}/src)

ordana_add_wine_test(zip_xml_tests spreadsheet/ZipArchiveTest.cpp spreadsheet/XmlPartTest.cpp
                     spreadsheet/PlainParserTest.cpp)
target_link_libraries(zip_xml_tests PRIVATE ordana_zip ordana_xml ZLIB::ZLIB EXPAT::EXPAT)
target_include_directories(zip_xml_tests PRIVATE ${PROJECT_SOURCE_DIR}/src)

ordana_add_wine_test(xlsx_tests spreadsheet/XlsxEngineTest.cpp spreadsheet/SheetRowsTest.cpp)
target_link_libraries(xlsx_tests PRIVATE ordana_xlsx ordana_spreadsheet ordana_zip ordana_container ordana_xls ordana_analysis
                                         ordana_job)
target_include_directories(xlsx_tests PRIVATE ${PROJECT_SOURCE_DIR}/src)

ordana_add_wine_test(ods_tests spreadsheet/OdsEngineTest.cpp spreadsheet/OdsRowsTest.cpp)
target_link_libraries(ods_tests PRIVATE ordana_ods ordana_spreadsheet ordana_container ordana_analysis ordana_job ordana_xls)
target_include_directories(ods_tests PRIVATE ${PROJECT_SOURCE_DIR}/src)

ordana_add_wine_test(engine_contract_tests spreadsheet/EngineContractTest.cpp)
target_link_libraries(engine_contract_tests PRIVATE ordana_spreadsheet ordana_container)
target_include_directories(engine_contract_tests PRIVATE ${PROJECT_SOURCE_DIR}/src)

# ordana-cli.exe and the Linux build's ordana-cli on copies of the same fixtures: the same output, the same
# tables saved.
set(ORDANA_LINUX_CLI ${PROJECT_SOURCE_DIR}/build/src/cli/ordana-cli CACHE FILEPATH
    "The Linux build's ordana-cli, which ordana-cli.exe is compared with")
add_test(NAME cli_windows_matches_linux
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/cli/cli_windows_end_to_end.py
                 ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:ordana-cli> ${ORDANA_LINUX_CLI}
                 ${CMAKE_CURRENT_SOURCE_DIR}/fixtures)
set_tests_properties(cli_windows_matches_linux PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600 SKIP_RETURN_CODE 77)

# Tests that drive Linux programs (python3-xlrd, openpyxl, ssconvert through a shell) or measure Linux's own
# counters and permission bits (/proc/self/io, chmod) stay with the Linux build; here they are disabled once
# discovered (a CTest script run after the discovered lists).
set(ORDANA_LINUX_ONLY_TESTS
    "^(CompoundFile\\.(RewriteReadsTheSameInXlrd|Version4RewriteReadsTheSameInGnumeric)|Producers/XlsxTable\\.WrittenSavedAndJudgedByOtherPrograms/.*|XlsxSave\\.AFailedSaveLeavesTheFile|XlsEngine\\.TheOpenPassesACellTableByItsIndex)$")
set(_disable ${CMAKE_CURRENT_BINARY_DIR}/linux_only_tests.cmake)
file(WRITE ${_disable} "foreach(_list IN ITEMS common_tests analysis_tests job_tests cli_tests container_tests xls_tests zip_xml_tests xlsx_tests ods_tests engine_contract_tests)\n"
                       "  foreach(_test IN LISTS \${_list}_TESTS)\n"
                       "    if(_test MATCHES [=[${ORDANA_LINUX_ONLY_TESTS}]=])\n"
                       "      set_tests_properties(\"\${_test}\" PROPERTIES DISABLED TRUE)\n"
                       "    endif()\n"
                       "  endforeach()\n"
                       "endforeach()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_disable})
