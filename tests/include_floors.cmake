# Holds every include in the source tree to the floors: a folder includes only from itself and the
# folders below it. Run as `cmake -DSOURCE_DIR=<src> -P include_floors.cmake`; fails listing each
# include that climbs.
#
#   app                        entry point, command line, start-up
#   commands   network         the two roads, side by side: neither includes the other
#   presenter                  the controller and what both roads share
#   render   input   reports   drawing, the person's controls, the reports
#   platform                   the window systems and colour management (interfaces, implementations)
#   core                       value types, words, geometry, the view and the picture
cmake_minimum_required(VERSION 3.25)

set(FLOOR_core core)
set(FLOOR_platform core platform)
set(FLOOR_render core render)
set(FLOOR_input core platform input)
set(FLOOR_reports core platform reports)
set(FLOOR_presenter core platform render input reports presenter)
set(FLOOR_commands core platform render input reports presenter commands)
set(FLOOR_network core platform render input reports presenter network)
set(FLOOR_app core platform render input reports presenter commands network app)

get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)
if(NOT IS_DIRECTORY "${SOURCE_DIR}")
  message(FATAL_ERROR "no source folder ${SOURCE_DIR}")
endif()
file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.hpp" "${SOURCE_DIR}/*.cpp")
set(climbs "")
foreach(source ${sources})
  string(REGEX REPLACE "/.*" "" folder "${source}")
  if(NOT DEFINED FLOOR_${folder})
    string(APPEND climbs "\n  ${source}: the folder ${folder} has no floor")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
  foreach(line ${includes})
    string(REGEX REPLACE "^[^\"]*\"([^\"/]+)/.*" "\\1" target "${line}")
    if(NOT target IN_LIST FLOOR_${folder})
      string(APPEND climbs "\n  ${source}: ${line}")
    endif()
  endforeach()
endforeach()
list(LENGTH sources count)
if(climbs)
  message(FATAL_ERROR "includes that climb a floor:${climbs}")
endif()
message(STATUS "${count} files, no include climbs a floor")
