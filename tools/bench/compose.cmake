# Composition of the layered window against its floor, a spinner tick and
# start-up to the first frame (Windows only; needs a display: compose.sh).
if(WIN32)
  # The program's start-up code comes along, so that the first frame is timed
  # from a start like the program's.
  add_executable(bench_compose ${CMAKE_CURRENT_LIST_DIR}/bench_compose.cpp ${CMAKE_SOURCE_DIR}/app/system_dlls.cpp
                               ${CMAKE_SOURCE_DIR}/app/parent_console.cpp ${CMAKE_SOURCE_DIR}/update/utf8.cpp)
  target_link_options(bench_compose PRIVATE -municode)
  target_link_libraries(bench_compose PRIVATE tbt_window tbt_product_res tbt_system_dlls)
  add_dependencies(bench_compose tbt_update_ini)
endif()
