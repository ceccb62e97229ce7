// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <stdexcept>

namespace nsk {

// A text that should have been a number (the port of a URL, the numbers of a PASV reply) was
// not: the run-time conversion error "'text' is not a valid integer value". The clients raise
// it before anything is sent.
class EConvertError final : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace nsk
