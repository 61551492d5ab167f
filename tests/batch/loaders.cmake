# Image loaders, EXIF reader, output writers and lookup-table files, on fixtures made by the tests.
add_executable(corvanta_loader_tests
  batch/deflate_png_encoder_test.cpp
  batch/exif_orientation_test.cpp
  batch/image_loader_test.cpp
  batch/lut_export_test.cpp
  batch/output_naming_test.cpp
  batch/output_writer_test.cpp
)
target_include_directories(corvanta_loader_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(corvanta_loader_tests PRIVATE corvanta_test_support GTest::gtest_main)
gtest_discover_tests(corvanta_loader_tests DISCOVERY_TIMEOUT 60)
