# qv_glob_sources(VAR dir...): every .cpp below the given folders, so that a new file needs no
# edit of the build. A folder set that has no source yet yields one empty unit, so that the
# library it feeds still exists.
function(qv_glob_sources var)
  set(all)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND all ${found})
  endforeach()
  if(NOT all)
    set(empty ${CMAKE_BINARY_DIR}/empty_${var}.cpp)
    file(WRITE ${empty} "// no sources yet\n")
    set(all ${empty})
  endif()
  set(${var} ${all} PARENT_SCOPE)
endfunction()
