# The window: skinned controls and the layered surface (tbt_skin, product-free
# apart from the art loader), and the update dialog with its layout
# (tbt_window). tbt_window leaves the worker, the ACPI channel, the power-off
# and the battery query to the program: the product links the real ones,
# tests link stand-ins.
set(TBT_SKIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/skin_ctrl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/skin_button.cpp
  ${CMAKE_CURRENT_LIST_DIR}/skin_label.cpp
  ${CMAKE_CURRENT_LIST_DIR}/layered_dialog.cpp
)
add_library(tbt_skin STATIC ${TBT_SKIN_SOURCES})
target_link_libraries(tbt_skin PUBLIC tbt_framework tbt_image tbt_delay_gdiplus)

add_library(tbt_window STATIC
  ${CMAKE_CURRENT_LIST_DIR}/update_dlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/layout.cpp
)
target_link_libraries(tbt_window PUBLIC tbt_skin tbt_text tbt_app_core tbt_update_run tbt_delay_version)
