# A batch of photographs from the window against the command line's loop and
# the corvanta-convert program; needs an X display (run it under xvfb-run).
if(TARGET corvanta_app AND TARGET corvanta_cli)
  add_executable(corvanta_batch_window_bench ${CMAKE_CURRENT_LIST_DIR}/batch_window_bench.cpp)
  target_link_libraries(corvanta_batch_window_bench PRIVATE corvanta_app corvanta_cli
    benchmark::benchmark)
  target_compile_definitions(corvanta_batch_window_bench PRIVATE
    CORVANTA_CONVERT_PROGRAM="$<TARGET_FILE:corvanta-convert>")
  add_dependencies(corvanta_batch_window_bench corvanta-convert)
endif()
