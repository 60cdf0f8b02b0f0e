#pragma once
// The lists an object's graphics keeps its components in, and the module's camera list.
// Cameras draw in list order and lookups by name find the newest match while deletions take
// the oldest, so these lists keep creation order when an element leaves: the pointer list's
// own removal moves the last element into the hole, which would swap draw order and lookup
// precedence of the survivors.
#include <cstring>

#include "scene/gPtrList.h"

// Removes the first occurrence of a_item, moving the later elements down one place. A walk
// in progress past the hole steps back with them, so it visits each survivor once.
inline bool graRemoveInOrder(gPtrList& a_list, void* a_item) {
  for (int i = 0; i < a_list.count; ++i) {
    if (a_list.items[i] != a_item) continue;
    std::memmove(a_list.items + i, a_list.items + i + 1, sizeof(void*) * static_cast<size_t>(a_list.count - i - 1));
    a_list.items[--a_list.count] = nullptr;
    if (a_list.cursor >= i) --a_list.cursor;
    return true;
  }
  return false;
}

// The most recently created component named a_name, or null.
template <class T>
T* graFindNewest(const gPtrList& a_list, const char* a_name) {
  if (!a_name) a_name = "";
  for (int i = a_list.count - 1; i >= 0; --i) {
    T* component = static_cast<T*>(a_list.Get(i));
    if (component->name == a_name) return component;
  }
  return nullptr;
}

// The oldest component named a_name, or null.
template <class T>
T* graFindOldest(const gPtrList& a_list, const char* a_name) {
  if (!a_name) a_name = "";
  for (int i = 0; i < a_list.count; ++i) {
    T* component = static_cast<T*>(a_list.Get(i));
    if (component->name == a_name) return component;
  }
  return nullptr;
}

// Deletes the oldest component named a_name; its destructor takes it out of the engine.
template <class T>
void graDeleteOldest(gPtrList& a_list, const char* a_name) {
  if (T* component = graFindOldest<T>(a_list, a_name)) {
    graRemoveInOrder(a_list, component);
    delete component;
  }
}

// Deletes every component, newest first.
template <class T>
void graDeleteAll(gPtrList& a_list) {
  while (a_list.count > 0) {
    T* component = static_cast<T*>(a_list.Get(a_list.count - 1));
    graRemoveInOrder(a_list, component);
    delete component;
  }
}
