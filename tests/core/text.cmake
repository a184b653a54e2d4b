# Text lookup suites, host and Windows alike: on the host they exercise our INI
# reader, under Wine the platform's profile reader, with the same cases. The
# binary lives in a folder of its own because it writes data/Update.ini beside
# itself; the shipped file is read from bin/data.
add_executable(text_tests
  ${CMAKE_CURRENT_LIST_DIR}/test_localized_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_ini_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_update_ini.cpp
)
set_target_properties(text_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/texttest)
target_link_libraries(text_tests PRIVATE tbt_text GTest::gtest_main)
if(TARGET tbt_update_ini)
  add_dependencies(text_tests tbt_update_ini)
endif()
tbt_add_gtest(text_tests)
