# SPDX-License-Identifier: GPL-2.0-or-later
target_sources(platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/registry.cpp)
