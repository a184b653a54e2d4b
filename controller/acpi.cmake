# The ACPI driver's request and reply layout: platform-free, tested on both sides.
add_library(tbt_acpi_request STATIC acpi_request.cpp)
