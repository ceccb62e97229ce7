# SPDX-License-Identifier: GPL-2.0-or-later
# Starting programs that run on their own (the virus scanner, external tools).
target_sources(platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/process.cpp)
