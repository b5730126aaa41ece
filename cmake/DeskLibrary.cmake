# desk_control_library(NAME SOURCES...): a control library compiled once, as an object library
# ${NAME}Objects that the tests link to reach the classes inside, and the shared library NAME
# made of the same objects, versioned, exporting only what its headers mark (its C entry
# points). include/NAME/NAME.h, the entry points, is the one header installed.
function(desk_control_library name)
  add_library(${name}Objects OBJECT ${ARGN})
  # The classes' headers sit beside their sources: the tests, benchmarks and fuzz targets that
  # link the objects reach them; the shared library's users see only include/.
  target_include_directories(${name}Objects PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${name}Objects PUBLIC DeskRuntime)

  add_library(${name} SHARED $<TARGET_OBJECTS:${name}Objects>)
  set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${name} PUBLIC DeskRuntime)
  install(TARGETS ${name} EXPORT DeskControlsTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  # A host includes only the entry points' header; the classes behind them are the library's own.
  install(FILES include/${name}/${name}.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${name})
endfunction()
