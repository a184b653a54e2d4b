# Text lookup: the same sources on the host (with our INI reader) and on Windows
# (with the platform's profile reader; ours is built too so tests can compare).
add_library(tbt_text STATIC
  ${CMAKE_CURRENT_LIST_DIR}/localized_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ini_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/result_text.cpp
)
target_link_libraries(tbt_text PUBLIC tbt_app_core)
