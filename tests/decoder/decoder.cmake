# The decoder process and its faults, with a stand-in decoder that misbehaves
# on purpose, and both programs serving as their own decoders.
add_executable(corvanta_misbehaving_decoder decoder/misbehaving_decoder.cpp)
target_link_libraries(corvanta_misbehaving_decoder PRIVATE corvanta_decoder)
corvanta_headless_tests(corvanta_decoder_tests
  SOURCES
    decoder/decoder_process_test.cpp
  LIBRARIES corvanta_test_support)
target_compile_definitions(corvanta_decoder_tests PRIVATE
  CORVANTA_TEST_DECODER="$<TARGET_FILE:corvanta_misbehaving_decoder>"
  CORVANTA_WINDOW_PATH="$<TARGET_FILE:corvanta>"
  CORVANTA_CONVERT_PATH="$<TARGET_FILE:corvanta-convert>")
add_dependencies(corvanta_decoder_tests corvanta_misbehaving_decoder corvanta corvanta-convert)
