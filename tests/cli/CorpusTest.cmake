# Runs the command-line converter on STL files. With -DCORPUS=folder, every
# STL file of the shared corpus must convert with exit status 0; a missing
# folder prints a line that CTest reports as a skip. With -DEXAMPLES=folder,
# the RAW output of each example must equal its checked-in RAW file byte for
# byte.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

if(DEFINED CORPUS)
  if(NOT IS_DIRECTORY "${CORPUS}")
    message("SKIPPED: no STL corpus at ${CORPUS} (it sits beside the checkout)")
    return()
  endif()
  file(GLOB corpus "${CORPUS}/*.stl" "${CORPUS}/*.STL")
  list(LENGTH corpus count)
  if(count EQUAL 0)
    message(FATAL_ERROR "no STL files in ${CORPUS}")
  endif()
  foreach(stl IN LISTS corpus)
    get_filename_component(name "${stl}" NAME)
    execute_process(COMMAND "${CLI}" "${stl}" "${WORK}/${name}.raw"
                    RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${name}: exit status ${rc}: ${err}")
    endif()
  endforeach()
  message(STATUS "converted ${count} corpus files")
endif()

if(DEFINED EXAMPLES)
  file(GLOB examples "${EXAMPLES}/*.stl")
  if(NOT examples)
    message(FATAL_ERROR "no STL files in ${EXAMPLES}")
  endif()
  foreach(stl IN LISTS examples)
    get_filename_component(base "${stl}" NAME_WE)
    execute_process(COMMAND "${CLI}" "${stl}" "${WORK}/${base}.raw"
                    RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${base}: exit status ${rc}: ${err}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
                    "${WORK}/${base}.raw" "${EXAMPLES}/${base}.raw" RESULT_VARIABLE same)
    if(NOT same EQUAL 0)
      message(FATAL_ERROR "${base}.raw differs from the expected RAW file")
    endif()
  endforeach()
endif()
