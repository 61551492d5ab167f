# The batch engine and what is around it: folder listing, the memory budget,
# naming and publishing outputs, lookup-table files, status lines.
corvanta_headless_tests(corvanta_worker_tests
  SOURCES
    batch/batch_engine_test.cpp
    batch/display_name_test.cpp
    batch/elapsed_time_test.cpp
    batch/folder_listing_test.cpp
    batch/lut_export_test.cpp
    batch/memory_budget_test.cpp
    batch/output_naming_test.cpp
    batch/output_writer_test.cpp
  LIBRARIES corvanta_test_support)
