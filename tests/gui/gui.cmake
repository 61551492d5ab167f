# Window tests: real GTK widgets on an Xvfb display. Each program runs as one
# CTest test under its own xvfb-run server; they still hold one resource lock
# so that no two fight over the CPU-bound timing of synthesized input.
# Under AddressSanitizer the leak checker is off for these programs: GTK,
# fontconfig and the X libraries keep caches until exit that are not ours.
find_program(XVFB_RUN xvfb-run REQUIRED)
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)

set(CORVANTA_GUI_TEST_ENV "NO_AT_BRIDGE=1;GDK_BACKEND=x11;GTK_THEME=Adwaita;GTK_CSD=0")
if(CORVANTA_SANITIZE MATCHES "address")
  list(APPEND CORVANTA_GUI_TEST_ENV "ASAN_OPTIONS=detect_leaks=0")
endif()
# Under ThreadSanitizer the toolkit's own threads need the suppressions
# explained in tests/tsan.supp.
if(CORVANTA_SANITIZE MATCHES "thread")
  list(APPEND CORVANTA_GUI_TEST_ENV "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tsan.supp")
endif()

add_library(corvanta_gui_harness STATIC gui/gui_harness.cpp gui/gui_main.cpp)
target_include_directories(corvanta_gui_harness PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/gui ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(corvanta_gui_harness PUBLIC corvanta_app corvanta_test_support GTest::gtest)

function(corvanta_gui_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE corvanta_gui_harness)
  add_test(NAME ${name}
           COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x1024x24" $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES
    RESOURCE_LOCK corvanta_display
    TIMEOUT 300
    ENVIRONMENT "${CORVANTA_GUI_TEST_ENV}")
endfunction()

corvanta_gui_test(corvanta_gui_tests
  gui/window_test.cpp
  gui/editor_test.cpp
  gui/preview_test.cpp)

# The embedded images need no display.
corvanta_headless_tests(corvanta_asset_tests
  SOURCES
    gui/embedded_images_test.cpp
  LIBRARIES corvanta_app)

# Synthesized input through the X server, and the real program's lifetime.
corvanta_gui_test(corvanta_gui_input_tests gui/input_test.cpp gui/x_clients.cpp)
target_link_libraries(corvanta_gui_input_tests PRIVATE PkgConfig::X11)
target_compile_definitions(corvanta_gui_input_tests PRIVATE CORVANTA_PROGRAM="$<TARGET_FILE:corvanta>")
add_dependencies(corvanta_gui_input_tests corvanta)

# Batches from the window: drops, progress, stop, refusals, the folder
# chooser and the closing notice, with fixtures made by the tests.
add_library(corvanta_batch_test_helpers STATIC gui/batch_helpers.cpp)
target_link_libraries(corvanta_batch_test_helpers PUBLIC corvanta_gui_harness corvanta_test_support)
corvanta_gui_test(corvanta_gui_batch_tests gui/batch_test.cpp)
target_link_libraries(corvanta_gui_batch_tests PRIVATE corvanta_batch_test_helpers)

# The window from the keyboard and for screen readers, through real key
# presses; batches from Ctrl+O and the command line.
corvanta_gui_test(corvanta_gui_keyboard_tests gui/keyboard_test.cpp gui/x_clients.cpp)
target_link_libraries(corvanta_gui_keyboard_tests PRIVATE corvanta_batch_test_helpers PkgConfig::X11)
target_compile_definitions(corvanta_gui_keyboard_tests PRIVATE CORVANTA_PROGRAM="$<TARGET_FILE:corvanta>")
set_property(TEST corvanta_gui_keyboard_tests APPEND PROPERTY ENVIRONMENT "GSETTINGS_BACKEND=memory")

# A drag source in a process of its own, for real drag and drop through the
# X server; and the real program closed during a batch.
add_executable(corvanta_drag_source gui/drag_source.cpp)
target_link_libraries(corvanta_drag_source PRIVATE PkgConfig::GTK3)
corvanta_gui_test(corvanta_gui_drop_tests gui/drop_test.cpp gui/x_clients.cpp)
target_link_libraries(corvanta_gui_drop_tests PRIVATE corvanta_batch_test_helpers PkgConfig::X11)
target_compile_definitions(corvanta_gui_drop_tests PRIVATE
  CORVANTA_PROGRAM="$<TARGET_FILE:corvanta>"
  CORVANTA_DRAG_SOURCE="$<TARGET_FILE:corvanta_drag_source>")
add_dependencies(corvanta_gui_drop_tests corvanta corvanta_drag_source)
# The folder chooser remembers its settings; keep them out of the user's.
set_property(TEST corvanta_gui_batch_tests corvanta_gui_drop_tests APPEND PROPERTY
  ENVIRONMENT "GSETTINGS_BACKEND=memory")

# Thousands of files, repeated start/stop and close, scheme changes during a
# batch: long-running, so they have a label of their own.
corvanta_gui_test(corvanta_gui_stress_tests gui/stress_test.cpp)
target_link_libraries(corvanta_gui_stress_tests PRIVATE corvanta_batch_test_helpers)
set_property(TEST corvanta_gui_stress_tests APPEND PROPERTY LABELS stress)
set_property(TEST corvanta_gui_stress_tests PROPERTY TIMEOUT 1200)

# The window's look under each theme, language and text scale: one
# program, one test for each.
add_executable(corvanta_gui_look_tests gui/look_test.cpp)
target_link_libraries(corvanta_gui_look_tests PRIVATE corvanta_gui_harness)
# A German session (de_DE.UTF-8, made by scripts/install-deps.sh) reads the
# catalogue of the build tree.
set(look_env ${CORVANTA_GUI_TEST_ENV})
list(FILTER look_env EXCLUDE REGEX "^GTK_THEME=")
foreach(look "Adwaita;GTK_THEME=Adwaita" "Adwaita_dark;GTK_THEME=Adwaita:dark"
        "HighContrast;GTK_THEME=HighContrast"
        "de;GTK_THEME=Adwaita;LANG=de_DE.UTF-8;LANGUAGE=de;LC_ALL=de_DE.UTF-8"
        "text_1.25;GTK_THEME=Adwaita;GDK_DPI_SCALE=1.25" "text_1.5;GTK_THEME=Adwaita;GDK_DPI_SCALE=1.5"
        "text_1.5_de;GTK_THEME=Adwaita;GDK_DPI_SCALE=1.5;LANG=de_DE.UTF-8;LANGUAGE=de;LC_ALL=de_DE.UTF-8")
  list(POP_FRONT look suffix)
  add_test(NAME corvanta_gui_look_${suffix}
           COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x1024x24" $<TARGET_FILE:corvanta_gui_look_tests>)
  set_tests_properties(corvanta_gui_look_${suffix} PROPERTIES
    RESOURCE_LOCK corvanta_display TIMEOUT 300 ENVIRONMENT "${look_env};${look}")
endforeach()
# Two device pixels to a pixel: the window is twice as large on the screen.
add_test(NAME corvanta_gui_look_scale_2
         COMMAND ${XVFB_RUN} -a -s "-screen 0 2560x2048x24" $<TARGET_FILE:corvanta_gui_look_tests>
                 --gtest_filter=*DevicePixels*)
set_tests_properties(corvanta_gui_look_scale_2 PROPERTIES
  RESOURCE_LOCK corvanta_display TIMEOUT 300 ENVIRONMENT "${look_env};GTK_THEME=Adwaita;GDK_SCALE=2")
add_dependencies(corvanta_gui_look_tests corvanta_translations)
