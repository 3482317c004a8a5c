# SSH host keys against OpenSSH's own ssh, sshd and ssh-keygen; the SSH test servers; "sftp://"
# under the Internet calls.
quillon_add_test(net_ssh_tests LIBS quillon_net quillon_testftp SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/KnownHostsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SftpServersTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SftpTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LayerTestHelpers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LayerTestHelpers.h
  ${PROJECT_SOURCE_DIR}/tests/support/ssh_library_faults.cpp)
