# tv_layer_headers(<target>)
#
# Gives the layer library <target> of src/<layer>/ an include root of its own: a folder of
# the build that holds only a link <layer> -> src/<layer>. Its headers are included as
# "<layer>/File.h", by its own sources and by whatever links it, and by nothing else, so a
# file reaches only the headers of its own layer and of the layers its target links; an
# include of a layer above fails to compile.
function(tv_layer_headers target)
  get_filename_component(layer ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(root ${CMAKE_BINARY_DIR}/include/${layer})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${layer} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
