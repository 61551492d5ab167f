# Window figures; both need an X display (run them under xvfb-run).
if(TARGET corvanta_app)
  add_executable(corvanta_window_bench ${CMAKE_CURRENT_LIST_DIR}/window_bench.cpp)
  target_link_libraries(corvanta_window_bench PRIVATE corvanta_app benchmark::benchmark)
  pkg_check_modules(X11_BENCH REQUIRED IMPORTED_TARGET x11)
  add_executable(corvanta_startup_time ${CMAKE_CURRENT_LIST_DIR}/startup_time.cpp)
  target_link_libraries(corvanta_startup_time PRIVATE PkgConfig::X11_BENCH)
endif()
