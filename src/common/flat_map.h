// A lookup table with open addressing and linear probing: one flat array,
// no allocation per entry. Entries are only added, never removed, and the
// table is never iterated, so its layout cannot reach any output.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace strokegraph {

template <class Key, class Value, class Hash>
class FlatMap {
 public:
  explicit FlatMap(std::size_t expected = 0) { rehash(capacity_for(expected)); }

  Value* find(const Key& key) {
    for (std::size_t i = Hash{}(key) & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (!s.used) return nullptr;
      if (s.key == key) return &s.value;
    }
  }

  const Value* find(const Key& key) const {
    for (std::size_t i = Hash{}(key) & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (!s.used) return nullptr;
      if (s.key == key) return &s.value;
    }
  }

  // Inserts (key, value) unless the key is present; returns the stored value
  // and whether it was inserted.
  std::pair<Value*, bool> try_emplace(const Key& key, Value value) {
    if (2 * (size_ + 1) > slots_.size()) rehash(2 * slots_.size());
    for (std::size_t i = Hash{}(key) & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (!s.used) {
        s = Slot{key, std::move(value), true};
        ++size_;
        return {&s.value, true};
      }
      if (s.key == key) return {&s.value, false};
    }
  }

  std::size_t size() const { return size_; }

 private:
  struct Slot {
    Key key{};
    Value value{};
    bool used = false;
  };

  static std::size_t capacity_for(std::size_t expected) {
    std::size_t c = 16;
    while (c < 2 * expected) c *= 2;
    return c;
  }

  void rehash(std::size_t capacity) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    size_ = 0;
    for (Slot& s : old) {
      if (s.used) try_emplace(s.key, std::move(s.value));
    }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

}  // namespace strokegraph
