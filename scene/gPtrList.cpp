#include "scene/gPtrList.h"

#include <cstddef>

#include "script/gmAssert.h"

gPtrList::gPtrList() : items(m_first) {}

gPtrList::~gPtrList() {
  if (items != m_first) delete[] items;
}

void gPtrList::Append(void* item) {
  if (count == capacity) {
    void** grown = new void*[std::size_t(capacity) * 2]();
    for (int i = 0; i < count; ++i) grown[i] = items[i];
    if (items != m_first) delete[] items;
    items = grown;
    capacity *= 2;
  }
  items[count++] = item;
}

bool gPtrList::Remove(void* item) {
  for (int i = 0; i < count; ++i) {
    if (items[i] == item) {
      RemoveAt(i);
      return true;
    }
  }
  return false;
}

int gPtrList::RemoveFrom(void* item, int a_slot) {
  int at = a_slot >= 0 && a_slot < count && items[a_slot] == item ? a_slot : -1;
  for (int i = 0; at < 0 && i < count; ++i)
    if (items[i] == item) at = i;
  if (at >= 0) RemoveAt(at);
  return at;
}

void gPtrList::RemoveAt(int index) {
  GM_ASSERT(index >= 0 && index < count, "RemoveAt takes a listed index");
  --count;
  items[index] = items[count];
  items[count] = nullptr;
}

void* gPtrList::First() {
  cursor = 0;
  return AtCursor();
}

void* gPtrList::Next() {
  ++cursor;
  return AtCursor();
}

void* gPtrList::AtCursor() const { return cursor >= 0 && cursor < count ? items[cursor] : nullptr; }
