// TDictionary<K,V>: the generic hash dictionary (keys compared exactly with Hash/KeyEqual), and
// TqzDictionary<K,V>, which adds a lookup with a default and the renaming of a key.
//
//   TqzDictionary<UnicodeString, Variant> query(100);
//   query.AddOrSetValue(u"id", Variant(u"7"));
//   Variant v = query.GetValue(u"id", Variant(u""));   // the stored value or the default
//   query.RenameKey(u"id", u"docid");
//
// Behaviour:
// - Add raises EListError "Duplicates not allowed" for a key that is present; AddOrSetValue
//   replaces. Items() of an absent key raises EListError "Item not found"; SetItems() likewise.
// - Remove of an absent key does nothing; ExtractPair hands the pair out (an absent key gives the
//   key with a value-initialised V).
// - Enumeration (begin/end, Keys, Values) is in the table's own order, not the order of adding.
// - Not thread-safe: a dictionary belongs to one thread at a time.
#pragma once

#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Exceptions.h"

template <class K, class V, class Hash = std::hash<K>, class KeyEqual = std::equal_to<K>>
class TDictionary {
 public:
  using Map = std::unordered_map<K, V, Hash, KeyEqual>;
  using const_iterator = typename Map::const_iterator;
  using iterator = typename Map::iterator;

  TDictionary() = default;
  // Room for ACapacity entries before the table grows.
  explicit TDictionary(int ACapacity) {
    if (ACapacity > 0) FItems.reserve(static_cast<size_t>(ACapacity));
  }

  int Count() const { return static_cast<int>(FItems.size()); }

  void Add(const K& Key, const V& Value) {
    if (!FItems.try_emplace(Key, Value).second) throw EListError("Duplicates not allowed");
  }
  void AddOrSetValue(const K& Key, const V& Value) { FItems.insert_or_assign(Key, Value); }
  void Remove(const K& Key) { FItems.erase(Key); }
  std::pair<K, V> ExtractPair(const K& Key) {
    auto node = FItems.extract(Key);
    if (node.empty()) return {Key, V{}};
    return {std::move(node.key()), std::move(node.mapped())};
  }
  void Clear() { FItems.clear(); }

  bool TryGetValue(const K& Key, V& Value) const {
    const auto it = FItems.find(Key);
    if (it == FItems.end()) return false;
    Value = it->second;
    return true;
  }
  bool ContainsKey(const K& Key) const { return FItems.find(Key) != FItems.end(); }
  bool ContainsValue(const V& Value) const {
    for (const auto& [key, value] : FItems)
      if (value == Value) return true;
    return false;
  }
  const V& Items(const K& Key) const {
    const auto it = FItems.find(Key);
    if (it == FItems.end()) throw EListError("Item not found");
    return it->second;
  }
  void SetItems(const K& Key, const V& Value) {
    const auto it = FItems.find(Key);
    if (it == FItems.end()) throw EListError("Item not found");
    it->second = Value;
  }

  std::vector<K> Keys() const {
    std::vector<K> out;
    out.reserve(FItems.size());
    for (const auto& entry : FItems) out.push_back(entry.first);
    return out;
  }
  std::vector<V> Values() const {
    std::vector<V> out;
    out.reserve(FItems.size());
    for (const auto& entry : FItems) out.push_back(entry.second);
    return out;
  }

  const_iterator begin() const { return FItems.begin(); }
  const_iterator end() const { return FItems.end(); }
  iterator begin() { return FItems.begin(); }
  iterator end() { return FItems.end(); }

 protected:
  Map FItems;
};

template <class K, class V, class Hash = std::hash<K>, class KeyEqual = std::equal_to<K>>
class TqzDictionary : public TDictionary<K, V, Hash, KeyEqual> {
  using Base = TDictionary<K, V, Hash, KeyEqual>;

 public:
  using Base::Base;

  // The value stored under Key, or a copy of Default when the key is absent. Never raises.
  V GetValue(const K& Key, const V& Default) const {
    const auto it = this->FItems.find(Key);
    return it == this->FItems.end() ? Default : it->second;
  }

  // Moves the value of Key to NewKey; an absent Key gives NewKey with a value-initialised V.
  // Renaming to a NewKey that is already present (other than Key itself) raises EListError
  // "Duplicates not allowed" and changes nothing: Key keeps its value.
  void RenameKey(const K& Key, const K& NewKey) {
    if (this->FItems.key_eq()(Key, NewKey)) {
      this->FItems.try_emplace(NewKey);
      return;
    }
    if (this->ContainsKey(NewKey)) throw EListError("Duplicates not allowed");
    auto node = this->FItems.extract(Key);
    if (node.empty()) {
      this->FItems.try_emplace(NewKey);
      return;
    }
    node.key() = NewKey;
    this->FItems.insert(std::move(node));
  }
};
