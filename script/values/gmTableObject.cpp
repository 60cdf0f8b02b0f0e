#include "script/values/gmTableObject.h"

#include <cstring>

#include "script/vm/gmMachine.h"

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
    for (gmint i = from; i < end; ++i) {
      const gmTableNode& n = nodes[i];
      if (n.key.type == GM_NULL) continue;
      if (n.key.IsReference()) {
        a_gc->GetNextObject(n.key.value.ref);
        ++work;
      }
      if (n.value.IsReference()) {
        a_gc->GetNextObject(n.value.value.ref);
        ++work;
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

static void ClearNode(gmTableNode* a_node) {
  a_node->key.SetNull();
  a_node->key.link = 0;
  a_node->value.SetNull();
}

void gmTableObject::AllocNodes(gmMachine* a_machine, gmint a_size) {
  nodes = static_cast<gmTableNode*>(a_machine->Alloc(sizeof(gmTableNode) * static_cast<size_t>(a_size)));
  for (gmint i = 0; i < a_size; ++i) ClearNode(&nodes[i]);
  tableSize = a_size;
  slotsUsed = 0;
  freeNode = &nodes[a_size - 1];
}

void gmTableObject::Barrier(gmMachine* a_machine, gmObject* a_obj) { a_machine->WriteBarrier(a_obj); }

void gmTableObject::SetSlow(gmMachine* a_machine, const gmVariable& a_key, const gmVariable& a_value, bool a_noBarrier) {
  // A table gets its first nodes on its first store, even one that then stores nothing.
  if (tableSize == 0) AllocNodes(a_machine, 4);
  if (a_key.type == GM_NULL) return;

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

  for (;;) {
    if (freeNode->key.type == GM_NULL) return;
    if (freeNode == nodes) break;
    --freeNode;
  }
  Resize(a_machine);
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
    for (gmTableNode* n = &nodes[size - 1]; n >= nodes; --n) {
      if (n->key.type == GM_NULL) {
        freeNode = n;
        return;
      }
    }
    newSize = size;
  }

  gmTableNode* old = nodes;
  if (TracePending(a_machine)) {
    // A split trace cannot follow its pairs into the new layout: mark them all now and let
    // the trace end at its next call.
    for (gmint i = 0; i < size; ++i) {
      if (old[i].key.type != GM_NULL) MarkMoved(a_machine, &old[i]);
    }
    a_machine->GetGC()->traceCursor = newSize;
  }
  AllocNodes(a_machine, newSize);
  for (gmint i = 0; i < size; ++i) {
    if (old[i].key.type != GM_NULL) Insert(a_machine, old[i].key, old[i].value);
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
  for (; i < tableSize; ++i) {
    if (nodes[i].key.type != GM_NULL) {
      a_cursor = i + 1;
      return &nodes[i];
    }
  }
  a_cursor = -1;
  return nullptr;
}

gmTableObject* gmTableObject::Duplicate(gmMachine* a_machine) const {
  gmTableObject* copy = a_machine->MakeTable();
  if (tableSize > 0) {
    copy->AllocNodes(a_machine, tableSize);
    for (gmint i = 0; i < tableSize; ++i) {
      if (nodes[i].key.type != GM_NULL) copy->Insert(a_machine, nodes[i].key, nodes[i].value);
    }
  }
  return copy;
}

gmVariable gmTableObject::FindByText(const char* a_text) const {
  for (gmint i = 0; i < tableSize; ++i) {
    const gmTableNode& n = nodes[i];
    if (n.key.type == GM_STRING && std::strcmp(n.key.GetStringObject()->text, a_text) == 0) return n.value;
  }
  return gmVariable::Null();
}
