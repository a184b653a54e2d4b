# The product: TbtFwUpdate.exe, a 32-bit GUI program with its resources, and
# data/Update.ini beside it. The framework supplies the entry point; the
# application object is app/update_app.cpp.
add_executable(TbtFwUpdate WIN32 update_app.cpp run_log_file.cpp parent_console.cpp system_dlls.cpp stack_guard.cpp)
target_link_options(TbtFwUpdate PRIVATE -municode)
target_link_libraries(TbtFwUpdate PRIVATE
  tbt_framework_main
  tbt_window
  tbt_update
  tbt_update_run
  tbt_wmi
  tbt_power_source
  tbt_machine
  tbt_app_core
  tbt_product_res
  tbt_system_dlls
  ntdll)
add_dependencies(TbtFwUpdate tbt_update_ini)
