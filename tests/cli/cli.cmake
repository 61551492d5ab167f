# corvanta-convert: option parsing in-process, the command itself by running
# the built executable in a child process.
corvanta_headless_tests(corvanta_cli_tests
  SOURCES
    cli/convert_options_test.cpp
    cli/convert_command_test.cpp
    cli/run_process.cpp
  LIBRARIES corvanta_cli corvanta_test_support)
target_compile_definitions(corvanta_cli_tests PRIVATE
  CORVANTA_CONVERT_PATH="$<TARGET_FILE:corvanta-convert>")
add_dependencies(corvanta_cli_tests corvanta-convert)

# Everything around the files: helpers, environment, limits, copies.
add_library(corvanta_no_memfd SHARED cli/no_memfd_shim.c)
target_sources(corvanta_cli_tests PRIVATE cli/surroundings_test.cpp)
target_compile_definitions(corvanta_cli_tests PRIVATE
  CORVANTA_NO_MEMFD_SHIM="$<TARGET_FILE:corvanta_no_memfd>")
add_dependencies(corvanta_cli_tests corvanta_no_memfd)
