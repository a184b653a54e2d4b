# Compatible controller/image pairs per family, shared with the worker's tests.
add_library(tbt_family_images STATIC family_images.cpp)

# bench_worker: one full update per family against the simulated provider,
# with the fixed waits at zero. Prints provider calls and the worker's time.
if(WIN32)
  add_executable(bench_worker bench_worker.cpp worker_standins.cpp)
  target_link_libraries(bench_worker PRIVATE tbt_update tbt_simprovider tbt_family_images)
endif()

# bench_wmi_client: the real provider client against the tests' fake provider
# objects; prints the time per method call and per image size.
if(WIN32)
  add_executable(bench_wmi_client bench_wmi_client.cpp ${CMAKE_SOURCE_DIR}/tests/win/controller/fake_wbem.cpp)
  target_link_libraries(bench_wmi_client PRIVATE tbt_wmi)
endif()
