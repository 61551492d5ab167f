# The conversion loop and the pieces around it: scheme text, folder listing,
# the shared gradient table, the total time.
add_executable(corvanta_worker_tests
  scheme/scheme_text_test.cpp
  batch/elapsed_time_test.cpp
  batch/folder_listing_test.cpp
  batch/drop_intake_test.cpp
  batch/batch_engine_test.cpp
  batch/display_name_test.cpp
  batch/memory_budget_test.cpp
)
target_include_directories(corvanta_worker_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(corvanta_worker_tests PRIVATE
  corvanta_batch corvanta_test_support GTest::gtest_main)
gtest_discover_tests(corvanta_worker_tests DISCOVERY_TIMEOUT 60)

# The decoder process and its faults, with a stand-in decoder that misbehaves
# on purpose.
add_executable(corvanta_misbehaving_decoder batch/misbehaving_decoder.cpp)
target_link_libraries(corvanta_misbehaving_decoder PRIVATE corvanta_batch)
target_sources(corvanta_worker_tests PRIVATE batch/decoder_process_test.cpp)
target_compile_definitions(corvanta_worker_tests PRIVATE
  CORVANTA_TEST_DECODER="$<TARGET_FILE:corvanta_misbehaving_decoder>"
  CORVANTA_WINDOW_PATH="$<TARGET_FILE:corvanta>"
  CORVANTA_CONVERT_PATH="$<TARGET_FILE:corvanta-convert>")
add_dependencies(corvanta_worker_tests corvanta_misbehaving_decoder corvanta corvanta-convert)
