// A tree's view state as a text the host keeps: the expanded nodes, the selected nodes, the
// current node and the node on the first row in view, each by its key (nodes without a key
// are not kept). JSON:
//   {"format": "VarbelTreeview view state", "version": 1, "expanded": [...], "selected": [...],
//    "current": "key", "top": "key"}
// Reading skips keys no node has now, ignores fields it does not know, and reads a later
// version's known fields the same way; a text that is no such object fails with 5.
#pragma once

#include <string>

namespace desk {
class TreeView;
}

namespace varbel {

// Costs a walk of every node (to find the expanded ones).
std::u16string SaveViewState(desk::TreeView& tree);
// Expands the saved nodes (raising Expand for each that was collapsed) and collapses the
// other expanded nodes it meets on the rows shown, then selects and scrolls.
void RestoreViewState(desk::TreeView& tree, const std::u16string& state);

}  // namespace varbel
