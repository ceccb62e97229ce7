// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

namespace nsk {

// A new identifier for a record's handle; never 0, never repeated within a process.
std::uint64_t NewHandleId();

// Refers to a job or a connection record without owning it. The record is owned through a
// std::shared_ptr by its list (the job list owns jobs, a job owns its connections); the
// handle holds the record's identifier and a weak reference. Handles compare by
// identifier, and a handle whose record has been freed resolves to nothing.
template <class T>
class THandle {
 public:
  THandle() = default;  // none
  THandle(std::uint64_t id, std::weak_ptr<T> ref) : id_(id), ref_(std::move(ref)) {}

  std::uint64_t Id() const { return id_; }
  bool IsNone() const { return id_ == 0; }
  explicit operator bool() const { return id_ != 0; }

  // The record, or null when the handle is none or the record is gone.
  std::shared_ptr<T> Resolve() const { return ref_.lock(); }

  friend bool operator==(const THandle& a, const THandle& b) { return a.id_ == b.id_; }
  friend std::strong_ordering operator<=>(const THandle& a, const THandle& b) {
    return a.id_ <=> b.id_;
  }

 private:
  std::uint64_t id_ = 0;
  std::weak_ptr<T> ref_;
};

class TJob;
class TSkimbler;
using JobHandle = THandle<TJob>;
using SkimblerHandle = THandle<TSkimbler>;

}  // namespace nsk

template <class T>
struct std::hash<nsk::THandle<T>> {
  std::size_t operator()(const nsk::THandle<T>& h) const noexcept {
    return std::hash<std::uint64_t>{}(h.Id());
  }
};
