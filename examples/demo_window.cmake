# The demo host as a real window on the Qt platform (built only with the Qt backend).
add_executable(demo_window ${CMAKE_CURRENT_LIST_DIR}/demo_window.cpp)
target_link_libraries(demo_window PRIVATE DeskQt Qt6::Widgets ${CMAKE_DL_LIBS})
# The controls are loaded by class identifier, as a form's run time would.
target_compile_definitions(demo_window PRIVATE
  VARBEL_LIBRARY_PATH="$<TARGET_FILE:VarbelTreeview>"
  QUORVANE_LIBRARY_PATH="$<TARGET_FILE:Quorvane>")
add_dependencies(demo_window VarbelTreeview Quorvane)
if(TARGET desk_sample_server)
  target_link_libraries(demo_window PRIVATE desk_sample_server)
  target_compile_definitions(demo_window PRIVATE DESK_DEMO_HAVE_SAMPLE_SERVER=1)
endif()
# Where it writes its screenshot when it runs without a display and no --screenshot.
target_compile_definitions(demo_window PRIVATE DESK_DEMO_SCREENSHOT="${CMAKE_BINARY_DIR}/demo_window.png")
