# corvanta-convert: option parsing in-process, the command itself by running
# the built executable in a child process.
add_executable(corvanta_cli_tests
  cli/convert_options_test.cpp
  cli/convert_command_test.cpp
  cli/run_process.cpp
)
target_include_directories(corvanta_cli_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(corvanta_cli_tests PRIVATE
  corvanta_cli corvanta_test_support GTest::gtest_main)
target_compile_definitions(corvanta_cli_tests PRIVATE
  CORVANTA_CONVERT_PATH="$<TARGET_FILE:corvanta-convert>")
add_dependencies(corvanta_cli_tests corvanta-convert)
gtest_discover_tests(corvanta_cli_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS headless)

# Everything around the files: helpers, environment, limits, copies.
add_library(corvanta_no_memfd SHARED cli/no_memfd_shim.c)
target_sources(corvanta_cli_tests PRIVATE cli/surroundings_test.cpp)
target_compile_definitions(corvanta_cli_tests PRIVATE
  CORVANTA_NO_MEMFD_SHIM="$<TARGET_FILE:corvanta_no_memfd>")
add_dependencies(corvanta_cli_tests corvanta_no_memfd)
