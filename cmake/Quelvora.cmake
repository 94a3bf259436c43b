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

# qv_embed_files(target file...): compiles the bytes of each file (relative to the source folder)
# into target as `extern const unsigned char kEmbedded_<stem>_<ext>[]` with its size beside it
# (`kEmbedded_..._size`), regenerated whenever the file changes.
function(qv_embed_files target)
  foreach(rel IN LISTS ARGN)
    get_filename_component(name ${rel} NAME)
    string(MAKE_C_IDENTIFIER ${name} id)
    set(out ${CMAKE_BINARY_DIR}/embedded/${id}.cpp)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/${rel} -DOUT=${out} -DID=${id}
              -P ${CMAKE_SOURCE_DIR}/cmake/EmbedFile.cmake
      DEPENDS ${CMAKE_SOURCE_DIR}/${rel} ${CMAKE_SOURCE_DIR}/cmake/EmbedFile.cmake
      COMMENT "Embedding ${rel}")
    target_sources(${target} PRIVATE ${out})
  endforeach()
endfunction()
