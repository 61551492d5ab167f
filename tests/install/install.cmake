# The installed tree: `cmake --install` into a fresh DESTDIR, then one test
# each for the layout (with the installed corvanta-convert run), the desktop
# entry, the metainfo, the man pages and the bash completion. A test whose
# validator is missing reports itself skipped.
find_program(CORVANTA_INSTALL_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(CORVANTA_INSTALL_PYTHON)
  string(REPLACE ";" "," languages "${CORVANTA_LINGUAS}")
  foreach(check layout desktop metainfo man completion)
    add_test(NAME install_${check}
             COMMAND ${CORVANTA_INSTALL_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_install.py ${check}
                     --build-dir ${PROJECT_BINARY_DIR} --cmake ${CMAKE_COMMAND}
                     --app-id ${CORVANTA_APP_ID} --version ${PROJECT_VERSION}
                     --helper $<TARGET_EXISTS:corvanta-decode>
                     --bindir ${CMAKE_INSTALL_BINDIR} --libexecdir ${CMAKE_INSTALL_LIBEXECDIR}
                     --datadir ${CMAKE_INSTALL_DATADIR} --mandir ${CMAKE_INSTALL_MANDIR}
                     --completion-dir ${CORVANTA_COMPLETION_INSTALL_DIR}
                     --languages "${languages}")
    set_tests_properties(install_${check} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
                         LABELS install)
  endforeach()
endif()
