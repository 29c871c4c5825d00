# Checks, at every build, two rules of the source tree:
# - includes go one way only: platform <- diagnostics <- {rpc, support,
#   calendar} <- library and tool, and rpc <- server <- library; the tool and
#   the public headers use the public headers only, but for the two units the
#   tool compiles in (standins/text.h, platform/sockets.h). The Linux stand-ins (standins/) sit beside the
#   platform: they include only themselves, the platform's file-call table
#   and its locks, and only the platform's Linux adapters (platform/posix/) include
#   them, except the text encodings, which every part of the library uses;
# - every exported name is defined as a function-try-block, so that no C++
#   exception crosses the C interface (diagnostics/boundary.h).
# Within the tool, each wing (tools/<wing>/, its posix/ and win32/ included)
# may include only the wings named for it, with includes rooted at tools/:
# "cli/options.h", never "options.h" or "../options.h".
# Usage: cmake -DROOT=<source dir> -P check_layout.cmake
cmake_minimum_required(VERSION 3.25)
# Folders an area may include from, and single headers beyond them.
set(allowed_platform       platform)
set(allowed_platform/posix platform standins)
set(allowed_standins       standins)
set(allowed_files_standins platform/file_calls.h platform/threads.h)
set(allowed_diagnostics    platform diagnostics razivu)
set(allowed_rpc            platform diagnostics rpc razivu)
set(allowed_support        platform diagnostics support razivu)
set(allowed_files_support  standins/text.h)
set(allowed_calendar       diagnostics calendar razivu)
# The server reads its clients through the message layer's inner steps; its
# system calls are the platform's (platform/serving.h).
set(allowed_server         platform diagnostics rpc server razivu)
set(allowed_include        razivu)
set(internal_folders platform standins diagnostics rpc support calendar server library tools)
# The tool's wings: tools/<wing>/ with its posix/ and win32/.
set(tool_wings common cli client services)
set(allowed_tools          razivu cli)  # main.cpp
set(allowed_tools/common   razivu common)
set(allowed_tools/cli      razivu common cli)
set(allowed_tools/client   razivu common cli client)
set(allowed_tools/services razivu common cli services)
list(APPEND internal_folders ${tool_wings})
# The library's text encodings and plain socket calls, compiled into the tool as well.
foreach(_wing IN LISTS tool_wings)
  set(allowed_files_tools/${_wing} standins/text.h platform/sockets.h)
endforeach()

set(problems "")
foreach(area platform platform/posix standins diagnostics rpc support calendar server tools include)
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${area}/*.h ${ROOT}/${area}/*.cpp ${ROOT}/${area}/*.c)
  if(area STREQUAL "platform")
    list(FILTER sources EXCLUDE REGEX "^platform/posix/")  # an area of its own
  endif()
  foreach(src IN LISTS sources)
    set(rules ${area})
    if(src MATCHES "^tools/([^/]+)/")
      set(rules tools/${CMAKE_MATCH_1})
      if(NOT CMAKE_MATCH_1 IN_LIST tool_wings)
        string(APPEND problems "  ${src}: tools/${CMAKE_MATCH_1} is not a wing of the tool (${tool_wings})\n")
        continue()
      endif()
    endif()
    file(STRINGS ${ROOT}/${src} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS lines)
      set(own_header FALSE)
      if(area STREQUAL "tools" AND line MATCHES "\"")
        if(NOT line MATCHES "\"[A-Za-z0-9_]+/" OR line MATCHES "\\.\\./")
          string(APPEND problems "  ${src}: ${line} (the tool's includes are rooted at tools/)\n")
          continue()
        endif()
        set(own_header TRUE)  # whatever its folder, it must be an allowed one
      endif()
      if(NOT line MATCHES "[\"<](([A-Za-z0-9_]+)/[^\">]*)")
        continue()  # a system header or one beside the source
      endif()
      set(header ${CMAKE_MATCH_1})
      set(folder ${CMAKE_MATCH_2})
      if(NOT own_header AND NOT folder IN_LIST internal_folders AND NOT folder STREQUAL "razivu")
        continue()  # sys/..., netinet/..., gtest/...
      endif()
      if(NOT folder IN_LIST allowed_${rules} AND NOT header IN_LIST allowed_files_${rules})
        string(APPEND problems "  ${src}: ${line} (${rules} may include only: ${allowed_${rules}} ${allowed_files_${rules}})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

file(GLOB_RECURSE library_sources ${ROOT}/platform/*.cpp ${ROOT}/standins/*.cpp ${ROOT}/diagnostics/*.cpp
     ${ROOT}/rpc/*.cpp ${ROOT}/support/*.cpp ${ROOT}/calendar/*.cpp ${ROOT}/server/*.cpp ${ROOT}/library/*.cpp)
set(all_text "")
foreach(src IN LISTS library_sources)
  file(READ ${src} text)
  string(APPEND all_text "${text}\n")
endforeach()
file(STRINGS ${ROOT}/library/exports.txt names REGEX "^[A-Za-z_]")
foreach(name IN LISTS names)
  string(STRIP "${name}" name)
  if(NOT all_text MATCHES "[^A-Za-z0-9_]${name}\\([^)]*\\)[ \t\r\n]*try[ \t\r\n]*{")
    string(APPEND problems "  ${name}: exported but not defined as a function-try-block closed by RAZIVU_CATCH\n")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "source layout rules broken:\n${problems}")
endif()
