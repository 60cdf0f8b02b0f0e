#include "script/values/gmTableObject.h"

#include <cstring>

#include "script/vm/gmMachine.h"

namespace {

// What the usage counts for a node array of a_size nodes, in either layout: the collector's
// pacing and the figures scripts read do not depend on the layout.
size_t ChargedBytes(gmint a_size) { return sizeof(gmTableNode) * static_cast<size_t>(a_size); }
size_t CompactBytes(gmint a_size) { return sizeof(gmTableNode) + sizeof(gmVariable) * static_cast<size_t>(a_size); }

bool FitsCompact(const gmVariable& a_key, gmint a_size) {
  return a_key.type == GM_INT && static_cast<gmuint>(a_key.value.i) < static_cast<gmuint>(a_size);
}

void ClearNode(gmTableNode* a_node) {
  a_node->key.SetNull();
  a_node->key.link = 0;
  a_node->value.SetNull();
}

void ClearValues(gmVariable* a_from, gmint a_count) {
  for (gmint i = 0; i < a_count; ++i) a_from[i].SetNull();
}

}  // namespace

void gmTableObject::Destruct(gmMachine* a_machine) { a_machine->DestroyTable(this); }

bool gmTableObject::Trace(gmMachine*, gmGarbageCollector* a_gc, int a_workLeft, int& a_workDone) {
  // A large table is traced a chunk of nodes at a time, as long as the step has budget left,
  // so that one step never walks a whole large table; the collector keeps the position.
  // Smaller tables, and every table at full throttle, are traced in one call.
  gmint from = 0;
  int work = 1;
  if (a_gc->currentObject == this && !a_gc->currentDone) {
    from = a_gc->traceCursor;
    work = 0;
  }
  for (;;) {
    gmint end = tableSize - from > TRACE_CHUNK_NODES ? from + TRACE_CHUNK_NODES : tableSize;
    if (nodes) {
      // A free node holds null in key and value, so it needs no test of its own.
      for (gmint i = from; i < end; ++i) {
        const gmTableNode& n = nodes[i];
        if (n.key.IsReference()) {
          a_gc->GetNextObject(n.key.value.ref);
          ++work;
        }
        if (n.value.IsReference()) {
          a_gc->GetNextObject(n.value.value.ref);
          ++work;
        }
      }
    } else {
      // Keys are ints and a free node's value is null: only values can refer to anything.
      for (gmint i = from; i < end; ++i) {
        const gmVariable& v = values[i];
        if (v.IsReference()) {
          a_gc->GetNextObject(v.value.ref);
          ++work;
        }
      }
    }
    from = end;
    if (from >= tableSize) break;
    if (work >= a_workLeft) {
      a_gc->traceCursor = from;
      a_workDone += work;
      return false;
    }
  }
  a_workDone += work;
  return true;
}

bool gmTableObject::TracePending(gmMachine* a_machine) const {
  const gmGarbageCollector* gc = a_machine->GetGC();
  return gc->currentObject == this && !gc->currentDone;
}

void gmTableObject::MarkMoved(gmMachine* a_machine, const gmTableNode* a_node) {
  // A pair moved within a table whose trace is split may land among the nodes already
  // traced: mark it here so the rest of the trace cannot miss it.
  gmGarbageCollector* gc = a_machine->GetGC();
  if (a_node->key.IsReference()) gc->GetNextObject(a_node->key.value.ref);
  if (a_node->value.IsReference()) gc->GetNextObject(a_node->value.value.ref);
}

void gmTableObject::MarkAll(gmMachine* a_machine) const {
  gmGarbageCollector* gc = a_machine->GetGC();
  for (gmint i = 0; i < tableSize; ++i) {
    if (nodes) {
      if (nodes[i].key.type != GM_NULL) MarkMoved(a_machine, &nodes[i]);
    } else if (values[i].IsReference()) {
      gc->GetNextObject(values[i].value.ref);
    }
  }
}

void gmTableObject::AllocNodes(gmMachine* a_machine, gmint a_size) {
  gmTableNode* fresh = static_cast<gmTableNode*>(a_machine->Alloc(ChargedBytes(a_size)));
  for (gmint i = 0; i < a_size; ++i) ClearNode(&fresh[i]);
  nodes = fresh;
  values = nullptr;
  tableSize = a_size;
  slotsUsed = 0;
  freeIndex = a_size - 1;
}

void gmTableObject::AllocValues(gmMachine* a_machine, gmint a_size) {
  gmTableNode* view = static_cast<gmTableNode*>(a_machine->Alloc(CompactBytes(a_size), ChargedBytes(a_size)));
  ClearNode(view);
  values = reinterpret_cast<gmVariable*>(view + 1);
  ClearValues(values, a_size);
  nodes = nullptr;
  tableSize = a_size;
  slotsUsed = 0;
  freeIndex = a_size - 1;
}

void gmTableObject::MakeExplicit(gmMachine* a_machine) {
  gmTableNode* fresh = static_cast<gmTableNode*>(a_machine->Alloc(ChargedBytes(tableSize)));
  for (gmint i = 0; i < tableSize; ++i) {
    if (values[i].type == GM_NULL) {
      ClearNode(&fresh[i]);
    } else {
      fresh[i].key.SetInt(i);
      fresh[i].key.link = 0;
      fresh[i].value = values[i];
    }
  }
  a_machine->Free(View());
  values = nullptr;
  nodes = fresh;
}

gmint gmTableObject::HighestFree() const {
  gmint i = tableSize - 1;
  while (i > 0 && !IsFree(i)) --i;
  return i;
}

gmVariable gmTableObject::KeyAt(gmint a_index) const {
  if (a_index < 0 || a_index >= tableSize || IsFree(a_index)) return gmVariable::Null();
  return nodes ? nodes[a_index].key : gmVariable(a_index);
}

void gmTableObject::Barrier(gmMachine* a_machine, gmObject* a_obj) { a_machine->WriteBarrier(a_obj); }

void gmTableObject::SetSlow(gmMachine* a_machine, const gmVariable& a_key, const gmVariable& a_value,
                            bool a_noBarrier) {
  // A table gets its first nodes on its first store, even one that then stores nothing.
  if (tableSize == 0) {
    if (a_key.type == GM_NULL || FitsCompact(a_key, 4))
      AllocValues(a_machine, 4);
    else
      AllocNodes(a_machine, 4);
  }
  if (a_key.type == GM_NULL) return;

  if (values) {
    if (FitsCompact(a_key, tableSize)) {
      gmVariable* value = &values[a_key.value.i];
      if (value->type != GM_NULL) {
        if (!a_noBarrier && value->IsReference()) a_machine->WriteBarrier(value->value.ref);
        if (a_value.type != GM_NULL) {
          *value = a_value;
        } else {
          value->SetNull();
          --slotsUsed;
        }
        return;
      }
      if (a_value.type == GM_NULL) return;
      *value = a_value;
      ++slotsUsed;
      while (values[freeIndex].type != GM_NULL) {
        if (freeIndex == 0) {
          Resize(a_machine);
          return;
        }
        --freeIndex;
      }
      return;
    }
    // Absent: any other key is stored explicitly.
    if (a_value.type == GM_NULL) return;
    MakeExplicit(a_machine);
    Insert(a_machine, a_key, a_value);
    return;
  }

  gmTableNode* before = nullptr;
  gmTableNode* node = MainNode(a_key);
  do {
    if (node->key.Same(a_key)) {
      if (a_value.type != GM_NULL) {
        if (!a_noBarrier && node->value.IsReference()) a_machine->WriteBarrier(node->value.value.ref);
        node->value = a_value;
        return;
      }
      if (!a_noBarrier) {
        if (node->key.IsReference()) a_machine->WriteBarrier(node->key.value.ref);
        if (node->value.IsReference()) a_machine->WriteBarrier(node->value.value.ref);
      }
      if (before) {
        SetNextInChain(before, NextInChain(node));
        ClearNode(node);
      } else if (gmTableNode* second = NextInChain(node)) {
        // The main node must keep heading its chain: pull the second node into it.
        MoveNode(node, second);
        ClearNode(second);
        if (TracePending(a_machine)) MarkMoved(a_machine, node);
      } else {
        ClearNode(node);
      }
      --slotsUsed;
      return;
    }
    before = node;
    node = NextInChain(node);
  } while (node);

  if (a_value.type == GM_NULL) return;
  Insert(a_machine, a_key, a_value);
}

void gmTableObject::Insert(gmMachine* a_machine, const gmVariable& a_key, const gmVariable& a_value) {
  gmTableNode* m = MainNode(a_key);
  if (m->key.type != GM_NULL) {
    gmTableNode* freeNode = &nodes[freeIndex];
    gmTableNode* other = MainNode(m->key);
    if (other != m) {
      // m holds a pair that merely borrowed it: move that pair to the free candidate and
      // relink its predecessor, so m can head the new key's chain.
      while (NextInChain(other) != m) other = NextInChain(other);
      SetNextInChain(other, freeNode);
      MoveNode(freeNode, m);
      SetNextInChain(m, nullptr);
      if (TracePending(a_machine)) MarkMoved(a_machine, freeNode);
    } else {
      SetNextInChain(freeNode, NextInChain(m));
      SetNextInChain(m, freeNode);
      m = freeNode;
    }
  }
  m->key = a_key;
  m->value = a_value;
  ++slotsUsed;
  while (nodes[freeIndex].key.type != GM_NULL) {
    if (freeIndex == 0) {
      Resize(a_machine);
      return;
    }
    --freeIndex;
  }
}

void gmTableObject::Resize(gmMachine* a_machine) {
  gmint size = tableSize;
  gmint quarter = size / 4;
  gmint newSize;
  if (slotsUsed >= size - quarter) {
    newSize = size * 2;
  } else if (slotsUsed <= quarter && size > 4) {
    newSize = size / 2;
  } else {
    for (gmint i = size - 1; i >= 0; --i) {
      if (IsFree(i)) {
        freeIndex = i;
        return;
      }
    }
    newSize = size;
  }

  if (TracePending(a_machine)) {
    // A split trace cannot follow its pairs into the new layout: mark them all now and let
    // the trace end at its next call.
    MarkAll(a_machine);
    a_machine->GetGC()->traceCursor = newSize;
  }
  Rebuild(a_machine, newSize);
}

void gmTableObject::Rebuild(gmMachine* a_machine, gmint a_size) {
  // Re-inserting the pairs in node order puts keys that all fall in 0..a_size-1 each at its
  // own position, with the candidate on the highest free node: the compact state, built
  // directly. A compact table keeps its values where they are and only changes length.
  gmint size = tableSize;
  bool compact = true;
  if (nodes) {
    for (gmint i = 0; i < size && compact; ++i) {
      if (nodes[i].key.type != GM_NULL) compact = FitsCompact(nodes[i].key, a_size);
    }
  } else {
    for (gmint i = a_size; i < size && compact; ++i) compact = values[i].type == GM_NULL;
  }

  if (compact && values) {
    gmTableNode* view =
        static_cast<gmTableNode*>(a_machine->Realloc(View(), CompactBytes(a_size), ChargedBytes(a_size)));
    values = reinterpret_cast<gmVariable*>(view + 1);
    if (a_size > size) ClearValues(values + size, a_size - size);
    tableSize = a_size;
    freeIndex = HighestFree();
    return;
  }

  gmTableNode* oldNodes = nodes;
  gmVariable* oldValues = values;
  void* old = Storage();
  gmint used = slotsUsed;
  if (compact) {
    AllocValues(a_machine, a_size);
    for (gmint i = 0; i < size; ++i) {
      if (oldNodes[i].key.type != GM_NULL) values[oldNodes[i].key.value.i] = oldNodes[i].value;
    }
    slotsUsed = used;
    freeIndex = HighestFree();
  } else {
    AllocNodes(a_machine, a_size);
    for (gmint i = 0; i < size; ++i) {
      if (oldNodes) {
        if (oldNodes[i].key.type != GM_NULL) Insert(a_machine, oldNodes[i].key, oldNodes[i].value);
      } else if (oldValues[i].type != GM_NULL) {
        Insert(a_machine, gmVariable(i), oldValues[i]);
      }
    }
  }
  a_machine->Free(old);
}

gmVariable gmTableObject::GetByName(gmMachine* a_machine, const char* a_text) const {
  gmStringObject* s = a_machine->FindString(a_text);
  if (!s) return gmVariable::Null();
  return Get(gmVariable(s));
}

void gmTableObject::SetByName(gmMachine* a_machine, const char* a_text, const gmVariable& a_value) {
  bool gc = a_machine->EnableGC(false);
  Set(a_machine, gmVariable(a_machine->MakeString(a_text)), a_value);
  a_machine->EnableGC(gc);
}

gmTableNode* gmTableObject::Next(gmint& a_cursor) const {
  if (a_cursor == -1) return nullptr;
  gmint i = a_cursor < 0 ? 0 : a_cursor;
  if (nodes) {
    for (; i < tableSize; ++i) {
      if (nodes[i].key.type != GM_NULL) {
        a_cursor = i + 1;
        return &nodes[i];
      }
    }
  } else {
    for (; i < tableSize; ++i) {
      if (values[i].type != GM_NULL) {
        a_cursor = i + 1;
        return View(i);
      }
    }
  }
  a_cursor = -1;
  return nullptr;
}

gmTableObject* gmTableObject::Duplicate(gmMachine* a_machine) const {
  gmTableObject* copy = a_machine->MakeTable();
  if (nodes) {
    copy->AllocNodes(a_machine, tableSize);
    for (gmint i = 0; i < tableSize; ++i) {
      if (nodes[i].key.type != GM_NULL) copy->Insert(a_machine, nodes[i].key, nodes[i].value);
    }
  } else if (values) {
    copy->AllocValues(a_machine, tableSize);
    // gmVariable is a type tag and a payload with no owning members: a byte copy is its copy.
    // NOLINTNEXTLINE(bugprone-undefined-memory-manipulation)
    std::memcpy(static_cast<void*>(copy->values), values, sizeof(gmVariable) * static_cast<size_t>(tableSize));
    copy->slotsUsed = slotsUsed;
    copy->freeIndex = copy->HighestFree();
  }
  return copy;
}

gmVariable gmTableObject::FindByText(const char* a_text) const {
  for (gmint i = 0; nodes && i < tableSize; ++i) {
    const gmTableNode& n = nodes[i];
    if (n.key.type == GM_STRING && std::strcmp(n.key.GetStringObject()->text, a_text) == 0) return n.value;
  }
  return gmVariable::Null();
}
