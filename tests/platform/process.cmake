# SPDX-License-Identifier: GPL-2.0-or-later
ns_add_test(process_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/process_test.cpp
  LIBS platform
  LABELS core)
