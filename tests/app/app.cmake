# The window's drop intake: no display needed.
corvanta_headless_tests(corvanta_app_tests
  SOURCES
    app/drop_intake_test.cpp
    app/window_progress_sink_test.cpp
  LIBRARIES corvanta_app corvanta_test_support)
