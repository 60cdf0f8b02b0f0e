#ifndef GPTRLIST_H
#define GPTRLIST_H

// The growable list of plain pointers that scenes, objects, components and modules keep
// their parts in. It owns only its slot array, never the elements.
//
// Removal moves the last element into the freed slot, so order is not kept. It searches
// with its own index and leaves the walk cursor alone: a walk in progress goes on from
// where it was. When the element being processed removes itself, the element moved into
// its slot is therefore not visited in that walk; an element appended during a walk is.
//
// The first slot lives inside the list: an object's components keep a dozen lists, most of
// them empty or holding one element, and objects are made and deleted by the hundred a
// frame.
class gPtrList {
 public:
  int count = 0;
  int capacity = 1;
  int cursor = -1;  // position of the walk in progress; -1 before the first walk
  void** items;     // slots from count on are always null; m_first until the list grows

  gPtrList();
  ~gPtrList();
  gPtrList(const gPtrList&) = delete;
  gPtrList& operator=(const gPtrList&) = delete;

  void Append(void* item);

  // Removes the first occurrence of item; false when it is not listed.
  bool Remove(void* item);

  // Removes the element at index (0 <= index < count) the same way: the last element
  // takes its place.
  void RemoveAt(int index);

  // Remove for lists of unique elements that remember their own slot: item is looked for
  // at a_slot first, then as Remove does. Returns the slot it had (-1 when it was not
  // listed); the element now in that slot, if any, is the one the removal moved there, and
  // its owner should remember the new slot. Long lists of objects made and deleted every
  // frame would otherwise be searched once per deletion.
  int RemoveFrom(void* item, int a_slot);

  void* Get(int index) const { return index >= 0 && index < count ? items[index] : nullptr; }

  // Walk: First sets the cursor to 0, Next advances it; both return the element at the
  // cursor, or nullptr once the cursor has reached count (re-read at every step) or an
  // empty slot.
  void* First();
  void* Next();

 private:
  void* AtCursor() const;

  void* m_first[1] = {nullptr};
};

#endif
