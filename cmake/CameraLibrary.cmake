# tv_add_camera_library(<target> OUTPUT_NAME <name> SOURCES <source>... [COMMON] [LIBS <lib>...])
#
# A camera library: a shared library lib<name>.so that the program loads with dlopen and
# reaches only through the C entry points of tarvidll.h. Everything else in it is hidden
# (the sources export the entry points with `#pragma GCC visibility push(default)` around
# the header), so two camera libraries loaded one after the other never clash. It sees the
# camera interface through tv_camera_api and nothing else of the program.
#
#   OUTPUT_NAME  the file name without lib and .so: tarvidll for the default camera the
#                program loads beside itself, tarvidll-<camera> for `--camera <camera>`
#   SOURCES      its sources (or $<TARGET_OBJECTS:...> of an object library)
#   COMMON       links tv_camera_common: the exposure worker thread and the entry points
#                that only pass settings to it
#   LIBS         further libraries it links privately
function(tv_add_camera_library target)
  cmake_parse_arguments(PARSE_ARGV 1 CAM "COMMON" "OUTPUT_NAME" "SOURCES;LIBS")
  if(CAM_UNPARSED_ARGUMENTS OR NOT CAM_OUTPUT_NAME OR NOT CAM_SOURCES)
    message(FATAL_ERROR
      "tv_add_camera_library(${target}): needs OUTPUT_NAME and SOURCES "
      "(unknown: ${CAM_UNPARSED_ARGUMENTS})")
  endif()

  add_library(${target} SHARED ${CAM_SOURCES})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${CAM_OUTPUT_NAME}
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    AUTOMOC OFF)
  target_link_libraries(${target} PRIVATE tv_camera_api ${CAM_LIBS})
  if(CAM_COMMON)
    target_link_libraries(${target} PRIVATE tv_camera_common)
  endif()
endfunction()
