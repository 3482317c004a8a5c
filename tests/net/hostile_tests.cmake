# The Internet-call layer against a scripted server that misbehaves on purpose
# (tests/support/hostile_server.py), and the listing parser fed hostile text.
quillon_add_test(net_hostile_tests LIBS quillon_net quillon_testftp SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/HostileTransferTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HostileListingTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HostileTimeoutTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HostileUploadTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HostileFixture.h
  ${CMAKE_CURRENT_LIST_DIR}/LayerTestHelpers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LayerTestHelpers.h)
