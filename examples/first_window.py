import desk  # PYTHONPATH=python and LD_LIBRARY_PATH=the build's libraries (README)

desk.use_platform("qt")  # real windows; without this, the headless platform of the tests
tree = desk.CreateObject("{D5CA163D-6878-4BD8-A144-A5E85A414594}")
desk.init_properties(tree)
tree.Nodes.Add(Key="desk", Text="Desk controls")
tree.Nodes.Add("desk", 4, "tree", "VarbelTreeview: this tree")  # 4: a child of "desk"
tree.Nodes.Add("desk", 4, "images", "Quorvane: a web image list")
tree.Nodes("desk").Expanded = True
desk.show(tree, "First window", 400, 300)
desk.run()  # until the window is closed
