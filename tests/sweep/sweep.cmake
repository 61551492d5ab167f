# A few hundred damaged and unusual inputs through corvanta-convert.
find_program(CORVANTA_SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(CORVANTA_SYSTEM_PYTHON)
  add_test(NAME bad_input_sweep
           COMMAND ${CORVANTA_SYSTEM_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/bad_input_sweep.py
                   $<TARGET_FILE:corvanta-convert>)
  set_tests_properties(bad_input_sweep PROPERTIES TIMEOUT 1800)
endif()
