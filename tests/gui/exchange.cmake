# The preset store, the clipboard exchange and the help and credits windows:
# in the window itself, against xclip and xdotool as other X clients, and
# through real starts and exits of the corvanta program.
corvanta_gui_test(corvanta_gui_exchange_tests
  gui/clipboard_test.cpp
  gui/help_windows_test.cpp
  gui/program_store_test.cpp
  gui/user_presets_test.cpp
  gui/x_clients.cpp)
target_link_libraries(corvanta_gui_exchange_tests PRIVATE PkgConfig::X11)
target_compile_definitions(corvanta_gui_exchange_tests
  PRIVATE CORVANTA_PROGRAM="$<TARGET_FILE:corvanta>")
add_dependencies(corvanta_gui_exchange_tests corvanta)
