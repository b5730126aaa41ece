// A tree's view state as a text the host keeps: the expanded nodes, the selected nodes, the
// current node and the node on the first row in view, each by its key, or a node without a key
// by its places from the root down (0 the first, in sibling order). JSON:
//   {"format": "VarbelTreeview view state", "version": 1, "expanded": ["key", [0, 2], ...],
//    "selected": [...], "current": "key", "top": [3]}
// Reading skips keys no node has now and places past the last node, ignores fields it does
// not know, and reads a later version's known fields the same way; a text that is no such
// object fails with 5. A reader that knows keys only skips the places.
#pragma once

#include <string>

namespace desk {
class TreeView;
}

namespace varbel {

// Costs a walk of every node (to find the expanded ones).
std::u16string SaveViewState(desk::TreeView& tree);
// Expands the saved nodes (raising Expand for each that was collapsed, each looked up when
// its turn comes, so that a node an Expand handler adds is found) and collapses the other
// expanded nodes it meets on the rows shown, then selects and scrolls.
void RestoreViewState(desk::TreeView& tree, const std::u16string& state);

}  // namespace varbel
