# Checks that a manual page and the program's --help name the same options:
# every option of one, long or short, appears in the other.
#   cmake -DPROGRAM=<executable> -DPAGE=<page> -P ManPageTest.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND "${PROGRAM}" --help
                OUTPUT_VARIABLE help ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help: exit status ${rc}: ${err}")
endif()
file(READ "${PAGE}" page)

# In --help: "  -q, --quiet" and "      --strict". In the page, where a "-"
# is written "\-": ".BR \-q \", \" \-\-quiet" and ".B \-\-strict".
string(REGEX MATCHALL "--[a-z][a-z0-9-]*" helpLong "${help}")
string(REGEX MATCHALL "\n +-[a-zA-Z]," helpShort "${help}")
string(REGEX MATCHALL "\\\\-\\\\-[a-z]([a-z0-9]|\\\\-)*" pageLong "${page}")
string(REGEX MATCHALL "\\\\-[a-zA-Z] \"," pageShort "${page}")

set(helpOptions ${helpLong})
foreach(option IN LISTS helpShort)
  string(REGEX REPLACE "[\n ,]" "" option "${option}")
  list(APPEND helpOptions "${option}")
endforeach()
set(pageOptions)
foreach(option IN LISTS pageLong pageShort)
  string(REPLACE "\\-" "-" option "${option}")
  string(REGEX REPLACE "[ \",]" "" option "${option}")
  list(APPEND pageOptions "${option}")
endforeach()
list(REMOVE_DUPLICATES helpOptions)
list(REMOVE_DUPLICATES pageOptions)
if(NOT helpOptions)
  message(FATAL_ERROR "no options found in the output of ${PROGRAM} --help")
endif()

set(missing)
foreach(option IN LISTS helpOptions)
  if(NOT option IN_LIST pageOptions)
    list(APPEND missing "${option} is in --help but not in the page")
  endif()
endforeach()
foreach(option IN LISTS pageOptions)
  if(NOT option IN_LIST helpOptions)
    list(APPEND missing "${option} is in the page but not in --help")
  endif()
endforeach()
if(missing)
  list(JOIN missing "\n  " text)
  message(FATAL_ERROR "${PAGE}:\n  ${text}")
endif()
list(JOIN helpOptions " " text)
message(STATUS "both name ${text}")
