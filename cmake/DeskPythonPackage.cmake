# The Python package desk, installed as a binding: its modules under the prefix's Python
# folder, with a module that says where the libraries lie relative to the package, so that an
# installed package loads them without LD_LIBRARY_PATH.
#
# DESK_PYTHON_INSTALL_DIR is the folder that holds the package (relative to the prefix, or
# absolute); DESK_PYTHON_PACKAGE_DIR is the package's own folder. A compiled part of the package
# joins it there:
#   install(TARGETS <extension> LIBRARY DESTINATION ${DESK_PYTHON_PACKAGE_DIR})
set(DESK_PYTHON_INSTALL_DIR "lib/python3/dist-packages" CACHE STRING
    "Where cmake --install puts the Python package desk (relative to the prefix, or absolute)")
set(DESK_PYTHON_PACKAGE_DIR "${DESK_PYTHON_INSTALL_DIR}/desk")

# The library folder as seen from the package's folder, both taken under one prefix.
function(desk_relative_from_package out)
  foreach(dir DESK_PYTHON_PACKAGE_DIR CMAKE_INSTALL_LIBDIR)
    set(abs_${dir} "${${dir}}")
    if(NOT IS_ABSOLUTE "${abs_${dir}}")
      set(abs_${dir} "/prefix/${abs_${dir}}")
    endif()
  endforeach()
  if(IS_ABSOLUTE "${DESK_PYTHON_PACKAGE_DIR}" AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    message(WARNING "An absolute DESK_PYTHON_INSTALL_DIR with a relative library folder: the installed package "
                    "finds the libraries only if it is installed under CMAKE_INSTALL_PREFIX")
    set(abs_CMAKE_INSTALL_LIBDIR "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}")
  endif()
  file(RELATIVE_PATH rel "${abs_DESK_PYTHON_PACKAGE_DIR}" "${abs_CMAKE_INSTALL_LIBDIR}")
  string(REGEX REPLACE "(.)/$" "\\1" rel "${rel}")
  set(${out} "${rel}" PARENT_SCOPE)
endfunction()

desk_relative_from_package(desk_python_library_dir)
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/python/desk/_installed.py CONTENT
"\"\"\"Written by cmake --install: where the installed libraries lie, relative to this package.\"\"\"
LIBRARY_DIR = \"${desk_python_library_dir}\"
SOVERSION = ${PROJECT_VERSION_MAJOR}
")
install(DIRECTORY python/desk DESTINATION ${DESK_PYTHON_INSTALL_DIR}
  FILES_MATCHING PATTERN "*.py" PATTERN "*.pyi" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/python/desk/_installed.py DESTINATION ${DESK_PYTHON_PACKAGE_DIR})
