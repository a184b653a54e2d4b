# The product: TbtFwUpdate.exe, a 32-bit GUI program with its resources, and
# data/Update.ini beside it.
add_executable(TbtFwUpdate WIN32 winmain_stub.cpp)
target_link_options(TbtFwUpdate PRIVATE -municode)
target_link_libraries(TbtFwUpdate PRIVATE tbt_product_res)
add_dependencies(TbtFwUpdate tbt_update_ini)
