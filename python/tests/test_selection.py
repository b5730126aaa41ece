"""The library's second class, VarbelTreeviewControlEx, from Python: late-bound by name, the
selection of many nodes and its event, off until asked for."""
import desk

TREE = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
TREE_EX = "{5A314815-5123-4074-AD89-3886C1B12188}"


def make(clsid):
    tree = desk.CreateObject(clsid)
    desk.init_properties(tree)
    for key in ["a", "b", "c"]:
        tree.Nodes.Add(Key=key, Text=key.upper())
    tree.Nodes.Add("a", 4, "a1", "A1")
    return tree


def keys(tree):
    return [n.Key for n in tree.SelectedNodes]


class Counter:
    def __init__(self):
        self.count = 0

    def SelectionChanged(self):
        self.count += 1


def test_the_default_class_has_none_of_it():
    tree = make(TREE)
    try:
        tree.SelectionMode
    except desk.DeskError as e:
        assert e.number == 438
    else:
        raise AssertionError("the default class answered SelectionMode")


def test_single_by_default_then_many_in_tree_order_with_an_event_each():
    tree = make(TREE_EX)
    assert tree.SelectionMode == 0
    tree.SelectAll()
    assert keys(tree) == []
    counter = Counter()
    with desk.connect(tree, counter):
        tree.SelectionMode = 1
        tree.SelectAll()
        assert keys(tree) == ["a", "a1", "b", "c"]  # a1 is a's child: tree order
        assert tree.SelectedCount == 4
        tree.SetNodeSelected(tree.Nodes("b"), False)
        assert tree.IsNodeSelected(tree.Nodes("b")) is False
        tree.Nodes.Remove("a")  # with its child
        assert keys(tree) == ["c"]
    assert counter.count == 3  # SelectAll, SetNodeSelected, Remove


SAVER = r'''
import desk
tree = desk.CreateObject("{5A314815-5123-4074-AD89-3886C1B12188}")
desk.init_properties(tree)
for key in ["a", "b", "c"]:
    tree.Nodes.Add(Key=key, Text=key.upper())
tree.Nodes.Add("a", 4, "a1", "A1")
tree.Nodes.Add("a1", 4, "a11", "A11")
tree.SelectionMode = 1
tree.Nodes("a").Expanded = True
tree.Nodes("a1").Expanded = True
tree.SetNodeSelected(tree.Nodes("a11"), True)
tree.SetNodeSelected(tree.Nodes("c"), True)
print(tree.SaveViewState())
'''


def test_a_view_state_saved_by_another_process_gives_the_same_view():
    import subprocess
    import sys
    state = subprocess.run([sys.executable, "-c", SAVER], capture_output=True, text=True, check=True).stdout.strip()
    tree = make(TREE_EX)
    tree.Nodes.Add("a1", 4, "a11", "A11")
    tree.Nodes.Add("b", 4, "b1", "B1")  # a node the other process did not have
    tree.SelectionMode = 1
    tree.RestoreViewState(state)
    assert [n.Key for n in tree.Nodes if n.Expanded] == ["a", "a1"]
    assert keys(tree) == ["a11", "c"]
    assert tree.SaveViewState() == state


def test_children_on_demand_in_the_expand_event_and_from_call_soon():
    tree = make(TREE_EX)
    a = tree.Nodes("a")
    b = tree.Nodes("b")
    assert tree.NodeChildrenOnDemand(b) is False
    tree.SetNodeChildrenOnDemand(b, True)
    assert tree.NodeChildrenOnDemand(b) is True
    tree.SelectionMode = 1
    tree.SetNodeSelected(tree.Nodes("c"), True)

    class Loader:
        def Expand(self, node):
            if node.Key == "b":  # later, as a host that fetches them elsewhere
                desk.call_soon(lambda: [tree.Nodes.Add("b", 4, k, k.upper()) for k in ("b1", "b2")])
            elif node.Children == 0:
                tree.Nodes.Add(node, 4, "late", "LATE")

    with desk.connect(tree, Loader()):
        b.Expanded = True
        assert b.Children == 0 and b.Expanded
        desk.do_events()
        a.Expanded = True  # a has a child already: the handler adds nothing
    assert b.Expanded and b.Children == 2 and b.Child.Key == "b1"
    assert a.Children == 1


def test_the_filter_by_name_shows_matches_and_keeps_the_selection():
    tree = make(TREE_EX)
    tree.Nodes.Add("b", 4, "b1", "Apple")
    tree.SelectionMode = 1
    tree.SetNodeSelected(tree.Nodes("c"), True)
    assert tree.FilterText == ""
    tree.FilterText = "apple"
    assert tree.FilterMatchCount == 1
    assert [tree.IsNodeShown(n) for n in tree.Nodes] == [False, True, False, False, True]  # a b c a1 b1
    tree.FilterMatchesKeys = True
    tree.FilterText = "A1"
    assert [n.Key for n in tree.Nodes if tree.IsNodeShown(n)] == ["a", "a1"]
    tree.ClearFilter()
    assert tree.FilterText == ""
    assert keys(tree) == ["c"]
