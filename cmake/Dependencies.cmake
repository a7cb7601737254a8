# Clipper2 (offsetting and union) and the CDT constrained Delaunay
# triangulator. An installed package is used when CMake can find one;
# otherwise the sources come from the hash-checked PyPI sdists listed in
# tools/deps.lock, unpacked outside the source tree by tools/fetch_deps.py.
# A source distribution of strokegraph carries those sdists in third_party/
# (make sdist); then they are unpacked into the build tree, with no network.

set(STROKEGRAPH_BUNDLED_DEPS "${PROJECT_SOURCE_DIR}/third_party")
if(EXISTS "${STROKEGRAPH_BUNDLED_DEPS}")
  set(STROKEGRAPH_DEPS_DIR "${CMAKE_BINARY_DIR}/deps")
  set(_fetch_from --from "${STROKEGRAPH_BUNDLED_DEPS}")
else()
  set(STROKEGRAPH_DEPS_DIR "$ENV{STROKEGRAPH_DEPS_DIR}" CACHE PATH
      "Where tools/fetch_deps.py unpacks the third-party sources")
  set(_fetch_from)
endif()
if(NOT STROKEGRAPH_DEPS_DIR)
  if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(STROKEGRAPH_DEPS_DIR "$ENV{XDG_CACHE_HOME}/strokegraph/deps")
  else()
    set(STROKEGRAPH_DEPS_DIR "$ENV{HOME}/.cache/strokegraph/deps")
  endif()
endif()

# name -> "<unpacked dir>/<tree>" from the lock file.
file(STRINGS "${PROJECT_SOURCE_DIR}/tools/deps.lock" _lock_lines REGEX "^[a-z]")
foreach(_line IN LISTS _lock_lines)
  string(REGEX REPLACE "[ \t]+" ";" _fields "${_line}")
  list(GET _fields 0 _name)
  list(GET _fields 1 _version)
  list(GET _fields 3 _tree)
  string(REGEX REPLACE "[-_.]+" "_" _dir "${_name}")
  set(_tree_${_name} "${STROKEGRAPH_DEPS_DIR}/${_dir}-${_version}/${_tree}")
endforeach()

function(strokegraph_fetch_sources)
  if(NOT Python_EXECUTABLE)
    find_package(Python COMPONENTS Interpreter REQUIRED)
  endif()
  execute_process(
    COMMAND "${Python_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/tools/fetch_deps.py"
            --dest "${STROKEGRAPH_DEPS_DIR}" ${_fetch_from}
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "fetching the third-party sources failed; run 'make deps' "
                        "or set STROKEGRAPH_DEPS_DIR to a directory filled by tools/fetch_deps.py")
  endif()
endfunction()

find_package(Clipper2 CONFIG QUIET)
find_package(CDT CONFIG QUIET)
if((NOT Clipper2_FOUND AND NOT EXISTS "${_tree_clipper2-py}/src/clipper.engine.cpp")
   OR (NOT CDT_FOUND AND NOT EXISTS "${_tree_pythoncdt}/CDT.h"))
  strokegraph_fetch_sources()
endif()

if(Clipper2_FOUND AND TARGET Clipper2::Clipper2)
  add_library(strokegraph_clipper2 INTERFACE)
  target_link_libraries(strokegraph_clipper2 INTERFACE Clipper2::Clipper2)
  message(STATUS "Clipper2: installed package")
else()
  # Only what we call: the engine, the offsetter and rectclip (which the
  # convenience header pulls in).
  add_library(strokegraph_clipper2 STATIC
    "${_tree_clipper2-py}/src/clipper.engine.cpp"
    "${_tree_clipper2-py}/src/clipper.offset.cpp"
    "${_tree_clipper2-py}/src/clipper.rectclip.cpp")
  target_include_directories(strokegraph_clipper2 SYSTEM PUBLIC "${_tree_clipper2-py}/include")
  set_target_properties(strokegraph_clipper2 PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(strokegraph_clipper2 PRIVATE -w)
  message(STATUS "Clipper2: sources from ${_tree_clipper2-py}")
endif()

add_library(strokegraph_cdt INTERFACE)
# Lets a long triangulation be stopped (skeleton_cdt/triangulate.cpp).
target_compile_definitions(strokegraph_cdt INTERFACE CDT_ENABLE_CALLBACK_HANDLER)
if(CDT_FOUND AND TARGET CDT::CDT)
  target_link_libraries(strokegraph_cdt INTERFACE CDT::CDT)
  message(STATUS "CDT: installed package")
else()
  target_include_directories(strokegraph_cdt SYSTEM INTERFACE "${_tree_pythoncdt}")
  message(STATUS "CDT: headers from ${_tree_pythoncdt}")
endif()
