# System DLLs that are not KnownDLLs on every Windows the program supports.
# Windows would look for them beside the executable first, where anyone who
# can write to that folder could plant a copy. They are delay-loaded instead:
# out of the import table, loaded on first use, and the program restricts the
# search to System32 before that (app/system_dlls.cpp).
#
# tbt_delay_import(NAME) makes the target tbt_delay_NAME: the delay-import
# library for NAME.dll, built from the toolchain's own import library so that
# every function the platform offers can be called.
if(WIN32)
  find_program(TBT_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool REQUIRED)
  find_program(TBT_NM NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-nm REQUIRED)
  find_program(TBT_AR NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-ar REQUIRED)
  # An import library's symbol for NAME: __imp__NAME@N on i686, __imp_NAME on x64.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(TBT_IMP_PREFIX "__imp__")
  else()
    set(TBT_IMP_PREFIX "__imp_")
  endif()
endif()

function(tbt_delay_import name)
  if(TARGET tbt_delay_${name})
    return()
  endif()
  find_library(TBT_IMPLIB_${name} NAMES lib${name}.a REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/delay)
  set(def ${dir}/${name}.def)
  set(lib ${dir}/lib${name}_delay.a)
  # The .def lists each stdcall name with its @N; -k imports it undecorated.
  # dlltool names the descriptor after the library's name as given
  # (__DELAY_IMPORT_DESCRIPTOR_lib${name}_delay_a): made in its folder, that
  # name does not depend on where the build tree is.
  file(MAKE_DIRECTORY ${dir})
  add_custom_command(OUTPUT ${lib}
    COMMAND sh -c "{ echo 'LIBRARY ${name}.dll'; echo EXPORTS; '${TBT_NM}' '${TBT_IMPLIB_${name}}' | sed -n 's/^.* I ${TBT_IMP_PREFIX}\\(.*\\)$/\\1/p' | sort -u; } > '${def}'"
    COMMAND ${TBT_DLLTOOL} -d ${name}.def -y lib${name}_delay.a -k
    # Some import libraries carry code of their own besides the imports (GDI+'s
    # cached font families); it goes along, the imports stay delayed.
    COMMAND sh -c "cd '${dir}' && for m in $('${TBT_AR}' t '${TBT_IMPLIB_${name}}' | grep -v -E '^lib${name}([th]|s[0-9]+)[.]o$'); do '${TBT_AR}' x '${TBT_IMPLIB_${name}}' \"$m\" && '${TBT_AR}' r '${lib}' \"$m\" && rm -f \"$m\" || exit 1; done"
    DEPENDS ${TBT_IMPLIB_${name}}
    WORKING_DIRECTORY ${dir}
    COMMENT "Delay-import library for ${name}.dll"
    VERBATIM)
  add_custom_target(tbt_delay_${name}_lib DEPENDS ${lib})
  add_library(tbt_delay_${name} INTERFACE)
  add_dependencies(tbt_delay_${name} tbt_delay_${name}_lib)
  target_link_libraries(tbt_delay_${name} INTERFACE ${lib} delayimp)
endfunction()

# What the program delay-loads. The target tbt_system_dlls gives whatever
# compiles app/system_dlls.cpp every one of these libraries and the list of
# their descriptors (delay_loaded.inc), which it binds at start: a library
# added here is bound with the others.
set(TBT_DELAY_LOADED version powrprof bcrypt gdiplus)
if(WIN32)
  set(inc "// Made by cmake/system_dlls.cmake: each delay-loaded library's descriptor.\n")
  foreach(dll ${TBT_DELAY_LOADED})
    tbt_delay_import(${dll})
    string(APPEND inc "TBT_DELAY_LOADED(${dll}, \"__DELAY_IMPORT_DESCRIPTOR_lib${dll}_delay_a\")\n")
  endforeach()
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/delay/delay_loaded.inc CONTENT "${inc}" @ONLY)
  add_library(tbt_system_dlls INTERFACE)
  target_include_directories(tbt_system_dlls INTERFACE ${CMAKE_BINARY_DIR}/delay)
  foreach(dll ${TBT_DELAY_LOADED})
    target_link_libraries(tbt_system_dlls INTERFACE tbt_delay_${dll})
  endforeach()
endif()
