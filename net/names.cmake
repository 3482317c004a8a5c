# The lossless name codec stands alone so that the local lists can link it without the engine.
add_library(quillon_names STATIC ${CMAKE_CURRENT_LIST_DIR}/NameCodec.cpp ${CMAKE_CURRENT_LIST_DIR}/NameCodec.h)
target_include_directories(quillon_names PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillon_names PUBLIC Qt6::Core)
