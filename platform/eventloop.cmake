# SPDX-License-Identifier: GPL-2.0-or-later
# The per-thread event loop, the host resolver and the thread message queues.
target_sources(platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/eventloop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resolver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/threadqueue.cpp
)
