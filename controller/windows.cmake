# What reaches the controller and the machine on Windows. Each piece is its own
# library so that a test executable can link a stand-in in its place.

# The provider client over WMI: the product's Tbt* functions.
add_library(tbt_wmi STATIC tbt_wmi.cpp)
target_link_libraries(tbt_wmi PUBLIC tbt_app_core tbt_provider_gate ole32 oleaut32 uuid wbemuuid)

# The ACPI channel to the maker's driver.
add_library(tbt_acpi_channel STATIC acpi_channel.cpp)
target_link_libraries(tbt_acpi_channel PUBLIC tbt_acpi_request)

add_library(tbt_service STATIC tbt_service.cpp)
target_link_libraries(tbt_service PUBLIC advapi32)

# Whether the machine runs on battery.
add_library(tbt_power_source STATIC power_source.cpp)
target_link_libraries(tbt_power_source PUBLIC tbt_delay_powrprof)

add_library(tbt_power STATIC power_off.cpp)
target_link_libraries(tbt_power PUBLIC advapi32 user32)

# The real machine access the product links: ACPI channel, service start and
# power-off. The update worker's tests link recording stand-ins instead.
add_library(tbt_machine INTERFACE)
target_link_libraries(tbt_machine INTERFACE tbt_acpi_channel tbt_service tbt_power)
