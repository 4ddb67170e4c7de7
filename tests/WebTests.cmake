# The WebAssembly build's tests: the engine contract suite and the common layer (whose number reading and
# writing emscripten's libc++ lacks: common/wasm/Charconv.h) under node, on the machine's files; and
# ordana.html in chromium, firefox and WebKitGTK, judged against the Linux build's ordana-cli.
function(ordana_add_node_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE ordana_test_support GTest::gtest_main)
  target_link_options(${name} PRIVATE -sNODERAWFS=1 -sEXIT_RUNTIME=1
                      "SHELL:--pre-js ${CMAKE_CURRENT_SOURCE_DIR}/web/node-environment.js")
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/web/node-environment.js)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120
                       PROPERTIES ENVIRONMENT "ORDANA_FIXTURES=${CMAKE_CURRENT_SOURCE_DIR}/fixtures")
endfunction()

ordana_add_node_test(common_tests common/ArithmeticTest.cpp common/CellValueTest.cpp common/CharconvTest.cpp
                     common/TextTest.cpp)
target_link_libraries(common_tests PRIVATE ordana_common)

ordana_add_node_test(engine_contract_tests spreadsheet/EngineContractTest.cpp)
target_link_libraries(engine_contract_tests PRIVATE ordana_spreadsheet ordana_container)
target_include_directories(engine_contract_tests PRIVATE ${PROJECT_SOURCE_DIR}/src)

# emscripten's libc knows the C locale alone: the decimal comma of a Romanian locale is the Linux build's test.
# Its utimensat on node's files ignores UTIME_OMIT and stores 2^31-1 seconds, so a test that sets a file's time
# itself cannot tell whether the save kept it.
set(_disable ${CMAKE_CURRENT_BINARY_DIR}/web_disabled_tests.cmake)
file(WRITE ${_disable} "foreach(_test IN LISTS common_tests_TESTS engine_contract_tests_TESTS)\n"
                       "  if(_test MATCHES \"^(ParseNumber.FollowsTheLocaleDecimalSeparator|Formats/EngineContract.ASaveThatChangesNothingWritesNothing/.*)$\")\n"
                       "    set_tests_properties(\"\${_test}\" PROPERTIES DISABLED TRUE)\n"
                       "  endif()\n"
                       "endforeach()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_disable})

set(ORDANA_LINUX_CLI ${PROJECT_SOURCE_DIR}/build/src/cli/ordana-cli CACHE FILEPATH
    "The Linux build's ordana-cli, which the page is compared with")
# The same page test in each browser engine Debian has: chromium over DevTools, firefox-esr over WebDriver BiDi,
# WebKitGTK's MiniBrowser (Safari's engine) over classic WebDriver on its own virtual screen.
foreach(_browser chromium firefox webkit)
  add_test(NAME web_page_${_browser}
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/web/web_page_test.py --browser ${_browser}
                   ${PROJECT_BINARY_DIR}/ordana.html ${ORDANA_LINUX_CLI} ${CMAKE_CURRENT_SOURCE_DIR}/fixtures
                   ${PROJECT_BINARY_DIR}/web-screenshots/${_browser})
  set_tests_properties(web_page_${_browser} PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
endforeach()
