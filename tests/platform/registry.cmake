# SPDX-License-Identifier: GPL-2.0-or-later
ns_add_test(registry_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp LIBS platform LABELS core)
