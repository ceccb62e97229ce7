# SPDX-License-Identifier: GPL-2.0-or-later
ns_add_test(eventloop_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/eventloop_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/threadqueue_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/resolver_test.cpp
  LIBS platform nsnettestsupport
  LABELS core)
