# valgrind's memcheck over whole batches: the conversion loop in-process, the
# window's batches, and corvanta-convert on the fuzz seeds (good and broken
# images alike). Only in plain builds: sanitizers and valgrind do not mix.
find_program(CORVANTA_VALGRIND valgrind)
find_program(CORVANTA_LEAK_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(CORVANTA_VALGRIND AND CORVANTA_LEAK_PYTHON AND NOT CORVANTA_SANITIZE)
  set(CORVANTA_LEAK_CHECK ${CORVANTA_LEAK_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/leak_check.py
      --suppressions ${CMAKE_CURRENT_LIST_DIR}/valgrind.supp --)
  # The spinning rebuild test is left out: valgrind runs one thread at a time.
  add_test(NAME memcheck_worker
           COMMAND ${CORVANTA_LEAK_CHECK} $<TARGET_FILE:corvanta_worker_tests>
                   --gtest_filter=BatchEngineTest.*:-*RebuildDuringABatch*)
  # Some seeds are broken on purpose, so the command ends with status 1.
  add_test(NAME memcheck_convert
           COMMAND ${CORVANTA_LEAK_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/leak_check.py
                   --suppressions ${CMAKE_CURRENT_LIST_DIR}/valgrind.supp --expect-exit 1 --
                   $<TARGET_FILE:corvanta-convert> --jobs 2
                   --max-size 64x64 --output @SCRATCH@ ${PROJECT_SOURCE_DIR}/fuzz/corpus/image_loader_fuzz)
  add_test(NAME memcheck_window_batches
           COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x1024x24" ${CORVANTA_LEAK_CHECK}
                   $<TARGET_FILE:corvanta_gui_batch_tests>
                   --gtest_filter=BatchTest.ThreeFiles*:BatchTest.StopDuring*:BatchTest.ClosingDuring*:BatchTest.SchemeChanges*)
  set_tests_properties(memcheck_worker memcheck_convert memcheck_window_batches PROPERTIES
    LABELS memcheck TIMEOUT 900)
  set_tests_properties(memcheck_window_batches PROPERTIES
    RESOURCE_LOCK corvanta_display
    ENVIRONMENT "${CORVANTA_GUI_TEST_ENV};GSETTINGS_BACKEND=memory;CORVANTA_TEST_TIME_SCALE=10")
endif()
