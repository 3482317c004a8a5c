# Internet-call layer: pure helpers, and CurlInternet against a loopback pyftpdlib server.
quillon_add_test(net_layer_unit_tests LIBS quillon_net quillon_names SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/NameCodecTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReplyReaderTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FtpPathTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FtpsServerNameTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LocalFilesTest.cpp)
quillon_add_test(net_layer_ftp_tests LIBS quillon_net quillon_remote quillon_testftp SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/CurlInternetTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CurlInternetFailureTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LayerTestHelpers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LayerTestHelpers.h)
# "ftps://": explicit TLS against a loopback TLS server with a throw-away certificate authority.
quillon_add_test(net_layer_ftps_tests LIBS quillon_net quillon_testftp SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/FtpsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LayerTestHelpers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LayerTestHelpers.h
  ${PROJECT_SOURCE_DIR}/tests/support/TestCertificates.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/TestCertificates.h)
