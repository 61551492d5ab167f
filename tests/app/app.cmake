# The window's drop intake: no display needed.
add_executable(corvanta_app_tests app/drop_intake_test.cpp app/window_progress_sink_test.cpp)
target_include_directories(corvanta_app_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(corvanta_app_tests PRIVATE corvanta_app corvanta_test_support GTest::gtest_main)
gtest_discover_tests(corvanta_app_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS headless)
