# The art loader: GDI+ decoding of "IMG" resources (Windows only).
add_library(tbt_image STATIC ${CMAKE_CURRENT_LIST_DIR}/resource_image.cpp)
target_link_libraries(tbt_image PUBLIC tbt_delay_gdiplus ole32)
