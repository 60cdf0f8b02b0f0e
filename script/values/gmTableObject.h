#ifndef GMTABLEOBJECT_H
#define GMTABLEOBJECT_H

// The language's only container: a hash table of (key, value) pairs with chained scatter
// inside one node array (no separate chain storage).
//
// Invariants:
// - size is 0 or a power of two; a node is free exactly when its key type is GM_NULL.
// - Every key lives in the chain that starts at its main node (hash AND size-1). A used main
//   node either heads the chain of its own keys, or holds a foreign key that was placed
//   there as a free node; an insertion whose main node holds a foreign key evicts it.
// - freeNode only moves downwards between rebuilds; every node above it was used when the
//   candidate passed it. Deletion never moves it and never shrinks the array, so a table
//   resizes only when an insertion's search for a free node reaches node 0.

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
  gmTableNode* nodes = nullptr;
  gmTableNode* freeNode = nullptr;  // the free-node candidate
  gmint tableSize = 0;              // number of nodes
  gmint slotsUsed = 0;              // number of used nodes

  // Tables with more nodes than this are traced in parts across collector steps.
  static const gmint TRACE_CHUNK_NODES = 4096;

  int GetType() const override { return GM_TABLE; }
  void Destruct(gmMachine* a_machine) override;
  bool Trace(gmMachine* a_machine, gmGarbageCollector* a_gc, int a_workLeft, int& a_workDone) override;

  // The value stored under the key, or null. Never allocates.
  gmVariable Get(const gmVariable& a_key) const {
    const gmTableNode* node = Find(a_key);
    return node ? node->value : gmVariable::Null();
  }
  // The node holding the key, or null.
  GM_FORCEINLINE gmTableNode* Find(const gmVariable& a_key) const {
    if (a_key.type == GM_NULL || tableSize == 0) return nullptr;
    gmTableNode* node = &nodes[a_key.KeyHash() & static_cast<gmuint>(tableSize - 1)];
    for (;;) {
      if (node->key.Same(a_key)) return node;
      if (!node->key.link) return nullptr;
      node = &nodes[node->key.link - 1];
    }
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
      if (gmTableNode* node = Find(a_key)) {
        if (!a_noBarrier && node->value.IsReference()) Barrier(a_machine, node->value.value.ref);
        node->value = a_value;
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
  // node or null at the end. Inserting while iterating may move pairs.
  gmTableNode* Next(gmint& a_cursor) const;

  gmint Count() const { return slotsUsed; }

  // A new table of the same size holding the same pairs.
  gmTableObject* Duplicate(gmMachine* a_machine) const;

  // Linear scan in node order for a string key with this text; its value or null.
  gmVariable FindByText(const char* a_text) const;

 private:
  friend class gmMachine;
  static void Barrier(gmMachine* a_machine, gmObject* a_obj);
  void SetSlow(gmMachine* a_machine, const gmVariable& a_key, const gmVariable& a_value, bool a_noBarrier);
  void AllocNodes(gmMachine* a_machine, gmint a_size);
  void Insert(gmMachine* a_machine, const gmVariable& a_key, const gmVariable& a_value);
  void Resize(gmMachine* a_machine);
  // The collector is part way through this table's trace.
  bool TracePending(gmMachine* a_machine) const;
  static void MarkMoved(gmMachine* a_machine, const gmTableNode* a_node);
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
};

inline gmVariable::gmVariable(gmTableObject* a_table) : type(GM_TABLE) { value.ref = a_table; }
inline void gmVariable::SetTable(gmTableObject* a_table) { SetRef(GM_TABLE, a_table); }
inline gmTableObject* gmVariable::GetTableObject() const { return static_cast<gmTableObject*>(value.ref); }

#endif
