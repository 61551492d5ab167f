# Picture formats: the JPEG loader, EXIF and TIFF orientations, the PNG
# encoders, on fixtures made by the tests.
corvanta_headless_tests(corvanta_codecs_tests
  SOURCES
    codecs/deflate_png_encoder_test.cpp
    codecs/exif_orientation_test.cpp
    codecs/image_loader_test.cpp
    codecs/png_row_filters_test.cpp
  LIBRARIES corvanta_test_support)
