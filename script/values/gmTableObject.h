#ifndef GMTABLEOBJECT_H
#define GMTABLEOBJECT_H

// The language's only container: a hash table of (key, value) pairs with chained scatter
// inside one node array (no separate chain storage).
//
// Invariants:
// - size is 0 or a power of two; a node is free exactly when it holds no key.
// - Every key lives in the chain that starts at its main node (hash AND size-1). A used main
//   node either heads the chain of its own keys, or holds a foreign key that was placed
//   there as a free node; an insertion whose main node holds a foreign key evicts it.
// - freeIndex only moves downwards between rebuilds; every node above it was used when the
//   candidate passed it. Deletion never moves it and never shrinks the array, so a table
//   resizes only when an insertion's search for a free node reaches node 0.
//
// Iteration, copies and printing follow node positions, so the node array has two layouts
// that store the same nodes at the same positions and differ only in what a node keeps:
// - explicit (nodes set): every node holds its key, its value and its chain link;
// - compact (values set): used node i holds the int key i and is a chain of its own, so only
//   its value is stored; a node is free when its value is null (a stored value never is).
// An int hashes to itself, so a table whose keys are all ints in 0..size-1 has each key in
// its own main node with no collision: exactly the compact state. An int key in that range
// keeps the layout; the first other key turns the table explicit node for node before it is
// inserted; a rebuild whose keys all fall in the new range makes it compact again. An
// explicit table may hold only such keys (the layout is chosen at rebuilds), never the
// reverse. Arrays indexed from 0 therefore cost a value per node, not a node.

#include "script/values/gmObject.h"

// Lookups are the interpreter's commonest work; inside its one large function the compiler
// would otherwise call out for them.
#if defined(__GNUC__) || defined(__clang__)
#define GM_FORCEINLINE inline __attribute__((always_inline))
#else
#define GM_FORCEINLINE inline
#endif

// 32 bytes: the chain link lives in the key's spare bytes (index of the next node plus one,
// 0 at the end of a chain), so two nodes share a cache line and none straddles two.
struct gmTableNode {
  gmVariable key;
  gmVariable value;
};
static_assert(sizeof(gmTableNode) == 2 * sizeof(gmVariable), "the chain link takes no room of its own");

class gmTableObject : public gmObject {
 public:
  // First, so that it fills the padding at the end of the collector's fields: the shell keeps
  // the size the machine spaces its table shells by (tables as keys hash by address).
  gmint tableSize = 0;           // number of nodes
  gmTableNode* nodes = nullptr;  // explicit layout, else null
  gmVariable* values = nullptr;  // compact layout, else null
  gmint slotsUsed = 0;           // number of used nodes
  gmint freeIndex = 0;           // position of the free-node candidate

  // Tables with more nodes than this are traced in parts across collector steps.
  static const gmint TRACE_CHUNK_NODES = 4096;

  int GetType() const override { return GM_TABLE; }
  void Destruct(gmMachine* a_machine) override;
  bool Trace(gmMachine* a_machine, gmGarbageCollector* a_gc, int a_workLeft, int& a_workDone) override;

  // The value stored under the key, or null. Never allocates.
  gmVariable Get(const gmVariable& a_key) const {
    const gmVariable* value = FindValue(a_key);
    return value ? *value : gmVariable::Null();
  }
  // Where the value stored under the key lives, or null when the key is absent. Writing a
  // non-null value through it replaces the value (the caller applies the write barrier).
  GM_FORCEINLINE gmVariable* FindValue(const gmVariable& a_key) const {
    if (nodes) {
      if (a_key.type == GM_NULL) return nullptr;
      gmTableNode* node = &nodes[a_key.KeyHash() & static_cast<gmuint>(tableSize - 1)];
      for (;;) {
        if (node->key.Same(a_key)) return &node->value;
        if (!node->key.link) return nullptr;
        node = &nodes[node->key.link - 1];
      }
    }
    // Also the table without storage: its size is 0.
    if (a_key.type == GM_INT && static_cast<gmuint>(a_key.value.i) < static_cast<gmuint>(tableSize)) {
      gmVariable* value = &values[a_key.value.i];
      if (value->type != GM_NULL) return value;
    }
    return nullptr;
  }
  // The node holding the key, or null. A compact table keeps no nodes: it answers with a
  // copy of the pair, good until the next Find or Next on the table; writing to it changes
  // nothing (use FindValue or Set).
  GM_FORCEINLINE gmTableNode* Find(const gmVariable& a_key) const {
    gmVariable* value = FindValue(a_key);
    if (!value || nodes) return NodeOf(value);
    return View(a_key.value.i);
  }
  // The node after a_node in its chain, or null.
  gmTableNode* NextInChain(const gmTableNode* a_node) const {
    return a_node->key.link ? &nodes[a_node->key.link - 1] : nullptr;
  }

  // Insert, replace, or (value null) delete. Unless a_noBarrier, every reference that is
  // overwritten or removed goes through the collector's write barrier.
  void Set(gmMachine* a_machine, const gmVariable& a_key, const gmVariable& a_value, bool a_noBarrier = false) {
    // Replacing a value is the common store; it stays inline.
    if (a_value.type != GM_NULL) {
      if (gmVariable* value = FindValue(a_key)) {
        if (!a_noBarrier && value->IsReference()) Barrier(a_machine, value->value.ref);
        *value = a_value;
        return;
      }
    }
    SetSlow(a_machine, a_key, a_value, a_noBarrier);
  }

  // Lookups by text. GetByName only looks the text up among the interned strings (a text no
  // string has cannot be a key), so it never allocates; SetByName interns it.
  gmVariable GetByName(gmMachine* a_machine, const char* a_text) const;
  void SetByName(gmMachine* a_machine, const char* a_text, const gmVariable& a_value);

  // Iteration in node order. The cursor starts at -2 and ends at -1; returns the next used
  // node or null at the end. Inserting while iterating may move pairs. On a compact table
  // the node is a copy of the pair, good until the next Find or Next on the table.
  gmTableNode* Next(gmint& a_cursor) const;

  gmint Count() const { return slotsUsed; }

  // A new table of the same size holding the same pairs.
  gmTableObject* Duplicate(gmMachine* a_machine) const;

  // Linear scan in node order for a string key with this text; its value or null.
  gmVariable FindByText(const char* a_text) const;

  // Inspection by position (tests, diagnostics): the key of node a_index, null when free.
  gmVariable KeyAt(gmint a_index) const;
  bool IsCompact() const { return values != nullptr; }

  // The block holding the node array (null without one), for the machine to release.
  void* Storage() const { return nodes ? static_cast<void*>(nodes) : values ? static_cast<void*>(View()) : nullptr; }

 private:
  friend class gmMachine;
  static void Barrier(gmMachine* a_machine, gmObject* a_obj);
  void SetSlow(gmMachine* a_machine, const gmVariable& a_key, const gmVariable& a_value, bool a_noBarrier);
  void AllocNodes(gmMachine* a_machine, gmint a_size);
  void AllocValues(gmMachine* a_machine, gmint a_size);
  void MakeExplicit(gmMachine* a_machine);
  void Insert(gmMachine* a_machine, const gmVariable& a_key, const gmVariable& a_value);
  void Resize(gmMachine* a_machine);
  void Rebuild(gmMachine* a_machine, gmint a_size);
  bool IsFree(gmint a_index) const {
    return nodes ? nodes[a_index].key.type == GM_NULL : values[a_index].type == GM_NULL;
  }
  gmint HighestFree() const;
  // The collector is part way through this table's trace.
  bool TracePending(gmMachine* a_machine) const;
  static void MarkMoved(gmMachine* a_machine, const gmTableNode* a_node);
  void MarkAll(gmMachine* a_machine) const;
  void SetNextInChain(gmTableNode* a_node, const gmTableNode* a_next) {
    a_node->key.link = a_next ? static_cast<gmint>(a_next - nodes) + 1 : 0;
  }
  // Key, value and link of a_from into a_to.
  static void MoveNode(gmTableNode* a_to, const gmTableNode* a_from) {
    a_to->key = a_from->key;
    a_to->key.link = a_from->key.link;
    a_to->value = a_from->value;
  }
  gmTableNode* MainNode(const gmVariable& a_key) const {
    return &nodes[a_key.KeyHash() & static_cast<gmuint>(tableSize - 1)];
  }
  static gmTableNode* NodeOf(gmVariable* a_value) {
    return a_value ? reinterpret_cast<gmTableNode*>(reinterpret_cast<char*>(a_value) - offsetof(gmTableNode, value))
                   : nullptr;
  }
  // A compact table's storage starts with one node that Find and Next fill with the pair
  // they answer, then the values.
  gmTableNode* View() const { return reinterpret_cast<gmTableNode*>(values) - 1; }
  gmTableNode* View(gmint a_index) const {
    gmTableNode* view = View();
    view->key.SetInt(a_index);
    view->key.link = 0;
    view->value = values[a_index];
    return view;
  }
};

inline gmVariable::gmVariable(gmTableObject* a_table) : type(GM_TABLE) { value.ref = a_table; }
inline void gmVariable::SetTable(gmTableObject* a_table) { SetRef(GM_TABLE, a_table); }
inline gmTableObject* gmVariable::GetTableObject() const { return static_cast<gmTableObject*>(value.ref); }

#endif
