add_library(quillon_listing STATIC ListingParser.cpp)
target_include_directories(quillon_listing PUBLIC ${PROJECT_SOURCE_DIR})
