#include "jet/index_tree.h"

#include <algorithm>
#include <set>

#include "jet/errors.h"

namespace jet {
namespace {

// Deeper trees than this are taken for loops in damaged files; a Jet 4 tree
// of 2^24 pages is far shallower.
constexpr std::size_t kMaxDepth = 24;

struct LoadedPage {
  IndexPage page;
  int height = -1;  // 0 = leaf; -1 = not known yet
  bool dirty = false;
  bool fresh = false;     // reserved in this plan
  bool released = false;  // left the tree in this plan
  double rank = 0;        // write order among dirty pages of one height
};

struct Bound {
  KeyBytes key;
  EntryRow row;
};

bool IsAllNull(const IndexDefinition& index, std::span<const KeyValue> values) {
  for (std::size_t i = 0; i < index.columns.size(); ++i) {
    if (index.columns[i].type == ColumnType::kBoolean) return false;
    if (i < values.size() && !std::holds_alternative<std::monostate>(values[i])) return false;
  }
  return true;
}

bool HasNull(const IndexDefinition& index, std::span<const KeyValue> values) {
  for (std::size_t i = 0; i < index.columns.size(); ++i) {
    if (index.columns[i].type == ColumnType::kBoolean) continue;
    if (i >= values.size() || std::holds_alternative<std::monostate>(values[i])) return true;
  }
  return false;
}

// Holds the pages of one index while an update is planned; nothing reaches
// the file from here.
class TreeEditor {
 public:
  TreeEditor(IndexPageStore& store, const IndexDefinition& index) : store_(store), index_(index) {}

  LoadedPage& Load(std::uint32_t number) {
    auto found = pages_.find(number);
    if (found != pages_.end()) {
      if (found->second.released) store_.Corrupt(number, "an index page is reached after it left the tree");
      return found->second;
    }
    if (number == 0) store_.Corrupt(index_.root_page, "an index page points to page 0");
    LoadedPage loaded;
    loaded.page = DecodeIndexPage(store_.ReadPage(number), number, store_);
    return pages_.emplace(number, std::move(loaded)).first->second;
  }

  void SetHeight(std::uint32_t number, int height) {
    LoadedPage& page = Load(number);
    if (page.height >= 0 && page.height != height) store_.Corrupt(number, "an index page sits on two levels");
    if ((height == 0) != page.page.leaf) store_.Corrupt(number, "index leaves are not all on the lowest level");
    page.height = height;
  }

  // Returns the pages from the root to the leaf where `target` belongs.
  std::vector<std::uint32_t> Descend(const IndexEntry& target) {
    std::vector<std::uint32_t> path{index_.root_page};
    while (!Load(path.back()).page.leaf) {
      const IndexPage& node = Load(path.back()).page;
      std::uint32_t child = 0;
      for (const auto& entry : node.entries) {
        if (CompareEntries(entry, target) >= 0) {
          child = entry.child;
          break;
        }
      }
      if (child == 0) child = node.tail != 0 ? node.tail : (node.entries.empty() ? 0 : node.entries.back().child);
      if (child == 0) store_.Corrupt(path.back(), "an index node page has no children");
      if (std::find(path.begin(), path.end(), child) != path.end() || path.size() > kMaxDepth) {
        store_.Corrupt(child, "the index tree loops");
      }
      path.push_back(child);
    }
    for (std::size_t i = 0; i < path.size(); ++i) SetHeight(path[i], static_cast<int>(path.size() - 1 - i));
    return path;
  }

  // Returns the last entry of the subtree under `number`.
  Bound Max(std::uint32_t number) {
    for (std::size_t depth = 0;; ++depth) {
      if (depth > kMaxDepth) store_.Corrupt(number, "the index tree loops");
      const LoadedPage& loaded = Load(number);
      const IndexPage& page = loaded.page;
      if (page.leaf || page.tail == 0) {
        if (page.entries.empty()) store_.Corrupt(number, "an index page below the root is empty");
        return {page.entries.back().key, page.entries.back().row};
      }
      if (loaded.height > 0) SetHeight(page.tail, loaded.height - 1);
      number = page.tail;
    }
  }

  IndexEntry EntryFor(std::uint32_t child) {
    Bound bound = Max(child);
    return {std::move(bound.key), bound.row, child};
  }

  void MarkDirty(std::uint32_t number) {
    LoadedPage& page = Load(number);
    if (!page.dirty) {
      page.dirty = true;
      page.rank = static_cast<double>(++touches_);
    }
  }

  // Returns the first entry with `row`, walking every leaf; nullopt if none.
  std::optional<IndexEntry> FindByRow(EntryRow row) {
    std::uint32_t number = LeftmostLeaf();
    std::set<std::uint32_t> seen;
    while (number != 0) {
      if (!seen.insert(number).second) store_.Corrupt(number, "the chain of index leaves loops");
      const IndexPage& page = Load(number).page;
      if (!page.leaf) store_.Corrupt(number, "the chain of index leaves reaches a node page");
      for (const auto& entry : page.entries) {
        if (entry.row == row) return entry;
      }
      number = page.next;
    }
    return std::nullopt;
  }

  std::uint32_t LeftmostLeaf() {
    std::uint32_t number = index_.root_page;
    for (std::size_t depth = 0;; ++depth) {
      if (depth > kMaxDepth) store_.Corrupt(index_.root_page, "the index tree loops");
      const IndexPage& page = Load(number).page;
      if (page.leaf) return number;
      number = page.entries.empty() ? page.tail : page.entries.front().child;
    }
  }

  // Returns true when the leaf where `entry` belongs holds it.
  bool Holds(const IndexEntry& entry) {
    const IndexPage& leaf = Load(Descend(entry).back()).page;
    return std::binary_search(leaf.entries.begin(), leaf.entries.end(), entry,
                              [](const IndexEntry& a, const IndexEntry& b) { return CompareEntries(a, b) < 0; });
  }

  // Returns true when an entry of another row has `key`.
  bool OtherRowHas(const KeyBytes& key, EntryRow row) {
    const IndexEntry lowest{key, EntryRow{0, 0}, 0};
    std::uint32_t number = Descend(lowest).back();
    const IndexPage* page = &Load(number).page;
    auto at = std::lower_bound(page->entries.begin(), page->entries.end(), lowest,
                               [](const IndexEntry& a, const IndexEntry& b) { return CompareEntries(a, b) < 0; });
    std::set<std::uint32_t> seen{number};
    for (;;) {
      if (at == page->entries.end()) {
        number = page->next;
        if (number == 0) return false;
        if (!seen.insert(number).second) store_.Corrupt(number, "the chain of index leaves loops");
        page = &Load(number).page;
        at = page->entries.begin();
        continue;
      }
      if (at->key != key) return false;
      if (at->row != row) return true;
      ++at;
    }
  }

  void Insert(const IndexEntry& entry) {
    std::vector<std::uint32_t> path = Descend(entry);
    IndexPage& leaf = Load(path.back()).page;
    auto at = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), entry,
                               [](const IndexEntry& a, const IndexEntry& b) { return CompareEntries(a, b) < 0; });
    if (at != leaf.entries.end() && CompareEntries(*at, entry) == 0) {
      store_.Corrupt(path.back(), "the index already holds the entry being added");
    }
    leaf.entries.insert(at, entry);
    MarkDirty(path.back());
    FixUp(std::move(path));
  }

  void Remove(const IndexEntry& entry) {
    std::vector<std::uint32_t> path = Descend(entry);
    IndexPage& leaf = Load(path.back()).page;
    auto at = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), entry,
                               [](const IndexEntry& a, const IndexEntry& b) { return CompareEntries(a, b) < 0; });
    if (at == leaf.entries.end() || CompareEntries(*at, entry) != 0) {
      store_.Corrupt(path.back(), "an index entry is not where its key belongs");
    }
    leaf.entries.erase(at);
    MarkDirty(path.back());
    FixUp(std::move(path));
  }

  // Returns the dirty pages as writes, in crash-safe order, and forgets that
  // they were dirty. New pages come first.
  std::vector<IndexPageWrite> TakeWrites(std::vector<std::uint32_t>& new_pages) {
    std::vector<std::pair<std::uint32_t, LoadedPage*>> dirty;
    for (auto& [number, loaded] : pages_) {
      if (loaded.dirty && !loaded.released) dirty.emplace_back(number, &loaded);
    }
    std::sort(dirty.begin(), dirty.end(), [](const auto& a, const auto& b) {
      if (a.second->fresh != b.second->fresh) return a.second->fresh;
      if (a.second->height != b.second->height) return a.second->height > b.second->height;
      return a.second->rank < b.second->rank;
    });
    std::vector<IndexPageWrite> writes;
    for (auto& [number, loaded] : dirty) {
      const auto& entries = loaded->page.entries;
      for (std::size_t i = 1; i < entries.size(); ++i) {
        if (CompareEntries(entries[i - 1], entries[i]) >= 0) store_.Corrupt(number, "index entries are out of order");
      }
      if (loaded->fresh) new_pages.push_back(number);
      writes.push_back({number, EncodeIndexPage(loaded->page)});
      loaded->dirty = false;
      loaded->fresh = false;
    }
    return writes;
  }

  std::vector<std::uint32_t> TakeReleased() {
    std::vector<std::uint32_t> released;
    for (auto& [number, loaded] : pages_) {
      if (loaded.released) released.push_back(number);
    }
    return released;
  }

 private:
  // Restores the invariants from the bottom of `path` (the changed leaf) up
  // to the root.
  void FixUp(std::vector<std::uint32_t> path) {
    for (std::size_t i = path.size(); i-- > 0;) {
      const std::uint32_t number = path[i];
      if (!Load(number).page.leaf) Normalize(number);
      if (IsEmpty(Load(number).page)) {
        if (i == 0) {
          IndexPage& root = Load(number).page;
          root.leaf = true;
          root.tail = 0;
          Load(number).height = 0;
          MarkDirty(number);
          return;
        }
        Detach(path[i - 1], number);
        continue;
      }
      while (Load(path[i]).page.StoredSize() > kIndexPageCapacity) {
        if (Load(path[i]).page.entries.size() < 2) {
          throw Unsupported("An entry of the index '" + index_.name + "' is too large for an index page");
        }
        if (i == 0) {
          path.insert(path.begin() + 1, NestRoot());
          i = 1;
        }
        Split(path[i - 1], path[i]);
      }
      if (i > 0) RefreshParentEntry(path[i - 1], path[i]);
    }
  }

  static bool IsEmpty(const IndexPage& page) { return page.entries.empty() && (page.leaf || page.tail == 0); }

  // Keeps invariant 3 on a node page.
  void Normalize(std::uint32_t number) {
    IndexPage& page = Load(number).page;
    if (page.tail != 0 && page.entries.empty()) {
      const std::uint32_t tail = page.tail;
      IndexEntry entry = EntryFor(tail);
      IndexPage& again = Load(number).page;
      again.entries.push_back(std::move(entry));
      again.tail = 0;
      MarkDirty(number);
    } else if (page.tail == 0 && page.entries.size() > 1) {
      page.tail = page.entries.back().child;
      page.entries.pop_back();
      MarkDirty(number);
    }
  }

  std::uint32_t NewPage(const IndexPage& like, int height) {
    const std::uint32_t number = store_.ReservePage();
    if (pages_.count(number) != 0) store_.Corrupt(number, "a new index page number is already in use");
    LoadedPage fresh;
    fresh.page.leaf = like.leaf;
    fresh.page.owner = like.owner;
    fresh.height = height;
    fresh.fresh = true;
    pages_.emplace(number, std::move(fresh));
    MarkDirty(number);
    return number;
  }

  // Moves the root's content into a new page below it (invariant 5) and
  // returns that page.
  std::uint32_t NestRoot() {
    const std::uint32_t root_number = index_.root_page;
    LoadedPage& root = Load(root_number);
    const int height = root.height;
    const std::uint32_t child = NewPage(root.page, height);
    LoadedPage& moved = Load(child);
    moved.page.entries = std::move(root.page.entries);
    moved.page.tail = root.page.tail;
    LoadedPage& top = Load(root_number);
    top.page.entries.clear();
    top.page.tail = 0;
    top.page.leaf = false;
    top.height = height + 1;
    top.page.entries.push_back(EntryFor(child));
    MarkDirty(root_number);
    return child;
  }

  // Moves the first half of `number`'s entries to a new page placed before
  // it on its level, and lists the new page in `parent`.
  void Split(std::uint32_t parent, std::uint32_t number) {
    LoadedPage& original = Load(number);
    const std::uint32_t head = NewPage(original.page, original.height);
    LoadedPage& page = Load(number);
    LoadedPage& fresh = Load(head);
    const auto half = static_cast<std::ptrdiff_t>((page.page.entries.size() + 1) / 2);
    fresh.page.entries.assign(std::make_move_iterator(page.page.entries.begin()),
                              std::make_move_iterator(page.page.entries.begin() + half));
    page.page.entries.erase(page.page.entries.begin(), page.page.entries.begin() + half);
    fresh.page.prev = page.page.prev;
    fresh.page.next = number;
    if (page.page.prev != 0) {
      const std::uint32_t left = page.page.prev;
      LoadedPage& neighbour = Load(left);
      neighbour.height = page.height;
      neighbour.page.next = head;
      MarkDirty(left);
      // The left neighbour must point to the new page before the entries
      // leave this page.
      LoadedPage& me = Load(number);
      if (neighbour.rank >= me.rank) neighbour.rank = me.rank - 0.5;
    }
    Load(number).page.prev = head;
    MarkDirty(number);

    if (!Load(head).page.leaf) {
      Normalize(head);
      if (Load(head).height >= 2) {
        // Node pages are chained only within one parent.
        const IndexPage& node = Load(head).page;
        const std::uint32_t last_child = node.tail != 0 ? node.tail : node.entries.back().child;
        const std::uint32_t right = Load(last_child).page.next;
        Load(last_child).height = Load(head).height - 1;
        if (right != 0) {
          Load(right).height = Load(head).height - 1;
          Load(right).page.prev = 0;
          MarkDirty(right);
          Load(last_child).page.next = 0;
          MarkDirty(last_child);
        }
      }
    }

    IndexEntry listed = EntryFor(head);
    IndexPage& above = Load(parent).page;
    auto at = std::lower_bound(above.entries.begin(), above.entries.end(), listed,
                               [](const IndexEntry& a, const IndexEntry& b) { return CompareEntries(a, b) < 0; });
    above.entries.insert(at, std::move(listed));
    MarkDirty(parent);
  }

  // Takes the emptied page `number` out of `parent` and off its level.
  void Detach(std::uint32_t parent, std::uint32_t number) {
    IndexPage& above = Load(parent).page;
    if (above.tail == number) {
      above.tail = 0;
    } else {
      auto listed = std::find_if(above.entries.begin(), above.entries.end(),
                                 [&](const IndexEntry& e) { return e.child == number; });
      if (listed == above.entries.end()) store_.Corrupt(parent, "an index node does not list its child page");
      above.entries.erase(listed);
    }
    MarkDirty(parent);
    const std::uint32_t prev = Load(number).page.prev;
    const std::uint32_t next = Load(number).page.next;
    const int height = Load(number).height;
    if (prev != 0) {
      Load(prev).height = height;
      Load(prev).page.next = next;
      MarkDirty(prev);
    }
    if (next != 0) {
      Load(next).height = height;
      Load(next).page.prev = prev;
      MarkDirty(next);
    }
    LoadedPage& gone = Load(number);
    gone.released = true;
    gone.dirty = false;
  }

  // Keeps invariant 2 for `child` in `parent`.
  void RefreshParentEntry(std::uint32_t parent, std::uint32_t child) {
    if (Load(parent).page.tail == child) return;
    Bound bound = Max(child);
    IndexPage& above = Load(parent).page;
    auto listed = std::find_if(above.entries.begin(), above.entries.end(),
                               [&](const IndexEntry& e) { return e.child == child; });
    if (listed == above.entries.end()) store_.Corrupt(parent, "an index node does not list its child page");
    if (listed->key != bound.key || listed->row != bound.row) {
      listed->key = std::move(bound.key);
      listed->row = bound.row;
      MarkDirty(parent);
    }
  }

  IndexPageStore& store_;
  const IndexDefinition& index_;
  std::map<std::uint32_t, LoadedPage> pages_;
  std::size_t touches_ = 0;
};

}  // namespace

DuplicateKey::DuplicateKey(std::string index_name)
    : std::runtime_error(
          "The changes you requested to the table were not successful because they would create duplicate values in "
          "the index, primary key, or relationship.  Change the data in the field or fields that contain duplicate "
          "data, remove the index, or redefine the index to permit duplicate entries and try again."),
      index_name_(std::move(index_name)) {}

NullInRequiredIndex::NullInRequiredIndex(std::string index_name)
    : std::runtime_error("Index or primary key cannot contain a Null value."), index_name_(std::move(index_name)) {}

void CheckIndexSupported(const IndexDefinition& index) {
  for (const KeyColumn& column : index.columns) {
    if (std::string why = WhyKeyUnsupported(column); !why.empty()) {
      throw Unsupported("The index '" + index.name + "' cannot be kept up to date: it has " + why);
    }
  }
}

IndexUpdatePlan PlanIndexUpdate(IndexPageStore& store, const IndexDefinition& index, EntryRow row,
                                std::span<const KeyValue> old_values, std::span<const KeyValue> new_values) {
  CheckIndexSupported(index);
  IndexUpdatePlan plan;
  plan.owned_map = index.owned_map;

  const bool new_present = !(index.ignore_nulls() && IsAllNull(index, new_values));
  const bool old_present = !(index.ignore_nulls() && IsAllNull(index, old_values));
  if (new_present && index.required() && HasNull(index, new_values)) throw NullInRequiredIndex(index.name);
  std::optional<KeyBytes> new_key;
  if (new_present) new_key = BuildKey(index.columns, new_values);
  std::optional<KeyBytes> old_key;
  if (old_present) old_key = BuildKeyIfKnown(index.columns, old_values);
  if (old_present && new_present && old_key == new_key) return plan;

  TreeEditor editor(store, index);
  std::optional<IndexEntry> old_entry;
  if (old_present) {
    if (old_key && editor.Holds(IndexEntry{*old_key, row, 0})) {
      old_entry = IndexEntry{*old_key, row, 0};
    } else {
      old_entry = editor.FindByRow(row);
      if (!old_entry) store.Corrupt(index.root_page, "the index '" + index.name + "' has no entry for a row");
    }
    if (new_present && old_entry->key == *new_key) return plan;
  }
  if (new_present) {
    const bool repeated = editor.OtherRowHas(*new_key, row);
    if (repeated && index.unique() && !IsAllNull(index, new_values)) throw DuplicateKey(index.name);
    plan.adds_distinct_key = !repeated;
    editor.Insert(IndexEntry{*new_key, row, 0});
  }
  plan.before_row = editor.TakeWrites(plan.new_pages);
  if (old_entry) editor.Remove(*old_entry);
  plan.after_row = editor.TakeWrites(plan.new_pages);
  plan.released_pages = editor.TakeReleased();
  return plan;
}

bool SeekFinds(IndexPageStore& store, const IndexDefinition& index, const IndexEntry& entry) {
  TreeEditor editor(store, index);
  return editor.Holds(entry);
}

std::vector<IndexEntry> WalkIndex(IndexPageStore& store, const IndexDefinition& index) {
  TreeEditor editor(store, index);
  std::vector<IndexEntry> entries;
  std::set<std::uint32_t> seen;
  for (std::uint32_t number = editor.LeftmostLeaf(); number != 0;) {
    if (!seen.insert(number).second) store.Corrupt(number, "the chain of index leaves loops");
    const IndexPage& page = editor.Load(number).page;
    if (!page.leaf) store.Corrupt(number, "the chain of index leaves reaches a node page");
    for (const auto& entry : page.entries) {
      if (!entries.empty() && CompareEntries(entries.back(), entry) >= 0) {
        store.Corrupt(number, "index entries are out of order across pages");
      }
      entries.push_back(entry);
    }
    number = page.next;
  }
  return entries;
}

std::vector<std::string> CheckIndexTree(IndexPageStore& store, const IndexDefinition& index) {
  TreeEditor editor(store, index);
  std::vector<std::string> problems;
  auto name = [](std::uint32_t number) { return "page " + std::to_string(number) + ": "; };

  // In-order traversal: the leaves as the tree orders them, and per node
  // level the children of each parent.
  std::vector<std::uint32_t> leaves;
  struct Visit {
    std::uint32_t number;
    std::size_t depth;
  };
  std::vector<Visit> stack{{index.root_page, 0}};
  std::set<std::uint32_t> seen;
  while (!stack.empty()) {
    const Visit visit = stack.back();
    stack.pop_back();
    if (!seen.insert(visit.number).second || visit.depth > kMaxDepth) {
      problems.push_back(name(visit.number) + "reached twice");
      return problems;
    }
    const IndexPage& page = editor.Load(visit.number).page;
    if (page.StoredSize() > kIndexPageCapacity) problems.push_back(name(visit.number) + "entries overflow the page");
    if (page.leaf) {
      leaves.push_back(visit.number);
      continue;
    }
    std::vector<std::uint32_t> children;
    for (const auto& entry : page.entries) children.push_back(entry.child);
    if (page.tail != 0) children.push_back(page.tail);
    if (page.tail != 0 && page.entries.empty()) problems.push_back(name(visit.number) + "a lone child is in the tail");
    if (page.tail == 0 && page.entries.size() != 1) problems.push_back(name(visit.number) + "several children, no tail");
    for (const auto& entry : page.entries) {
      const IndexPage& child = editor.Load(entry.child).page;
      if (child.entries.empty() && (child.leaf || child.tail == 0)) {
        problems.push_back(name(entry.child) + "empty page below the root");
        continue;
      }
      std::uint32_t last = entry.child;
      for (std::size_t depth = 0; depth < kMaxDepth && !editor.Load(last).page.leaf && editor.Load(last).page.tail != 0;
           ++depth) {
        last = editor.Load(last).page.tail;
      }
      const IndexPage& bottom = editor.Load(last).page;
      if (bottom.entries.empty() || bottom.entries.back().key != entry.key || bottom.entries.back().row != entry.row) {
        problems.push_back(name(visit.number) + "the entry for child " + std::to_string(entry.child) +
                           " is not its last entry");
      }
    }
    for (std::size_t k = 0; k < children.size(); ++k) {
      const IndexPage& child = editor.Load(children[k]).page;
      if (!child.leaf) {
        const std::uint32_t want_prev = k == 0 ? 0 : children[k - 1];
        const std::uint32_t want_next = k + 1 == children.size() ? 0 : children[k + 1];
        if (child.prev != want_prev || child.next != want_next) {
          problems.push_back(name(children[k]) + "node page chained outside its parent's children");
        }
      }
    }
    for (auto child = children.rbegin(); child != children.rend(); ++child) stack.push_back({*child, visit.depth + 1});
  }
  for (std::size_t k = 0; k < leaves.size(); ++k) {
    const IndexPage& leaf = editor.Load(leaves[k]).page;
    const std::uint32_t want_prev = k == 0 ? 0 : leaves[k - 1];
    const std::uint32_t want_next = k + 1 == leaves.size() ? 0 : leaves[k + 1];
    if (leaf.prev != want_prev || leaf.next != want_next) problems.push_back(name(leaves[k]) + "leaf chain broken");
    if (k > 0 && !leaf.entries.empty()) {
      const IndexPage& before = editor.Load(leaves[k - 1]).page;
      if (!before.entries.empty() && CompareEntries(before.entries.back(), leaf.entries.front()) >= 0) {
        problems.push_back(name(leaves[k]) + "entries out of order across leaves");
      }
    }
  }
  return problems;
}

}  // namespace jet
