# One list of exported names (library/exports.txt) drives both the Windows
# module-definition file and the ELF version script.
set(RAZIVU_EXPORTS_FILE ${PROJECT_SOURCE_DIR}/library/exports.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RAZIVU_EXPORTS_FILE})
file(STRINGS ${RAZIVU_EXPORTS_FILE} _razivu_lines)
set(RAZIVU_EXPORT_NAMES)
foreach(line IN LISTS _razivu_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  list(APPEND RAZIVU_EXPORT_NAMES ${line})
endforeach()

set(_def "LIBRARY razivu\nEXPORTS\n")
set(_map "RAZIVU_3 {\n  global:\n")
foreach(name IN LISTS RAZIVU_EXPORT_NAMES)
  string(APPEND _def "  ${name}\n")
  string(APPEND _map "    ${name};\n")
endforeach()
string(APPEND _map "  local:\n    *;\n};\n")
file(WRITE ${PROJECT_BINARY_DIR}/razivu.def.tmp "${_def}")
file(WRITE ${PROJECT_BINARY_DIR}/razivu.map.tmp "${_map}")
configure_file(${PROJECT_BINARY_DIR}/razivu.def.tmp ${PROJECT_BINARY_DIR}/razivu.def COPYONLY)
configure_file(${PROJECT_BINARY_DIR}/razivu.map.tmp ${PROJECT_BINARY_DIR}/razivu.map COPYONLY)

# Exports of the stdcall convention, with the bytes of their arguments on
# 32-bit Windows. The 32-bit DLL exports them by their plain names (--kill-at),
# while 32-bit clients of the public header reference the decorated ones: its
# import library, made by dlltool, maps the one onto the other.
set(RAZIVU_STDCALL_EXPORTS ProgmanDdeCallback@32)
set(_implib_def "${_def}")
foreach(decorated IN LISTS RAZIVU_STDCALL_EXPORTS)
  string(REGEX REPLACE "@.*" "" plain ${decorated})
  string(REPLACE "  ${plain}\n" "  ${decorated}\n" _implib_def "${_implib_def}")
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/razivu-implib.def.tmp "${_implib_def}")
configure_file(${PROJECT_BINARY_DIR}/razivu-implib.def.tmp ${PROJECT_BINARY_DIR}/razivu-implib.def COPYONLY)

function(razivu_apply_exports target)
  if(WIN32)
    target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/razivu.def)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${PROJECT_BINARY_DIR}/razivu-implib.def
                -D $<TARGET_FILE_NAME:${target}> -l $<TARGET_LINKER_FILE:${target}>
        COMMENT "Import library that resolves the decorated stdcall names")
    endif()
  else()
    target_link_options(${target} PRIVATE -Wl,--version-script=${PROJECT_BINARY_DIR}/razivu.map)
    # Sanitizer runtimes resolve their symbols at load time.
    if(NOT RAZIVU_SANITIZE AND NOT RAZIVU_TSAN AND NOT RAZIVU_BUILD_FUZZ)
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_BINARY_DIR}/razivu.map)
  endif()
endfunction()
