# The ACPI request layout, on the host and under Wine.
target_sources(core_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/test_acpi_request.cpp)
target_link_libraries(core_tests PRIVATE tbt_acpi_request)
