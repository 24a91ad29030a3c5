# TV_DEB_BUILDFLAGS=ON (the release build of the Debian package) compiles and links with the
# flags Debian builds its packages with, hardening included: dpkg-buildflags with every
# hardening feature on gives -fstack-protector-strong, -D_FORTIFY_SOURCE=2, format checks and
# -Wl,-z,relro -Wl,-z,now; the compiler makes position-independent executables by default.
# Run from the source folder, so that -ffile-prefix-map keeps the build's paths out of the
# binaries.
option(TV_DEB_BUILDFLAGS "Compile and link with Debian's build flags (dpkg-buildflags)" OFF)
if(NOT TV_DEB_BUILDFLAGS)
  return()
endif()

find_program(TV_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
function(tv_dpkg_buildflags name out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${TV_DPKG_BUILDFLAGS} --get ${name}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  set(${out} "${flags}" PARENT_SCOPE)
endfunction()
tv_dpkg_buildflags(CPPFLAGS cppflags)
tv_dpkg_buildflags(CFLAGS cflags)
tv_dpkg_buildflags(CXXFLAGS cxxflags)
tv_dpkg_buildflags(LDFLAGS ldflags)

# Added to this configuration's flags (not to the cache, so a reconfiguration does not add
# them twice).
string(APPEND CMAKE_C_FLAGS " ${cppflags} ${cflags}")
string(APPEND CMAKE_CXX_FLAGS " ${cppflags} ${cxxflags}")
foreach(kind EXE SHARED MODULE)
  string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${ldflags}")
endforeach()
message(STATUS "Debian build flags: ${cppflags} ${cxxflags} ${ldflags}")
