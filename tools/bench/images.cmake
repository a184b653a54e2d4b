# Art loading times against the busy animation's 100 ms tick (Windows only).
if(WIN32)
  add_executable(bench_images ${CMAKE_CURRENT_LIST_DIR}/bench_images.cpp)
  target_link_libraries(bench_images PRIVATE tbt_image tbt_art_res)
endif()
