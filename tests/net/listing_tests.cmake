quillon_add_test(test_listing_parser
  LIBS quillon_listing
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_listing_parser.cpp)
