# The Internet calls over libcurl (CurlInternet) and their pure helpers.
add_library(quillon_net STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CurlHandles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CurlInternet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CurlOperation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CurlBrowse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CurlTransfer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TlsFailure.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FtpPath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReplyReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Result.cpp)
target_include_directories(quillon_net PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillon_net PUBLIC quillon_listing Qt6::Core CURL::libcurl)
