# The batch engine and what is around it: folder listing, the memory budget,
# naming and publishing outputs, lookup-table files, status lines.
add_executable(corvanta_worker_tests
  batch/batch_engine_test.cpp
  batch/display_name_test.cpp
  batch/elapsed_time_test.cpp
  batch/folder_listing_test.cpp
  batch/lut_export_test.cpp
  batch/memory_budget_test.cpp
  batch/output_naming_test.cpp
  batch/output_writer_test.cpp
)
target_include_directories(corvanta_worker_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(corvanta_worker_tests PRIVATE corvanta_test_support GTest::gtest_main)
gtest_discover_tests(corvanta_worker_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS headless)
