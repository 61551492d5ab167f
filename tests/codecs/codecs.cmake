# Picture formats: the JPEG loader, EXIF and TIFF orientations, the PNG
# encoders, on fixtures made by the tests.
add_executable(corvanta_codecs_tests
  codecs/deflate_png_encoder_test.cpp
  codecs/exif_orientation_test.cpp
  codecs/image_loader_test.cpp
)
target_include_directories(corvanta_codecs_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(corvanta_codecs_tests PRIVATE corvanta_test_support GTest::gtest_main)
gtest_discover_tests(corvanta_codecs_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS headless)
