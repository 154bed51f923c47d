# Runs the observer table generator into OUT and compares it byte for byte
# with the committed source. Skips (CTest reads "SKIPPED:") without the data.
foreach(name cie1931_2deg_1nm.csv cie1964_10deg_1nm.csv)
  if(NOT EXISTS "${DATA_DIR}/${name}")
    message("SKIPPED: CIE data ${DATA_DIR}/${name} not found; cannot check the generated tables")
    return()
  endif()
endforeach()
file(REMOVE "${OUT}")
execute_process(COMMAND "${PYTHON}" "${GENERATOR}" --data "${DATA_DIR}" --out "${OUT}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "generator failed (${status})")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}" "${COMMITTED}"
                RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${COMMITTED} differs from the generator's output ${OUT}: "
                      "run tools/gen_observers/gen_observers.py and commit the result")
endif()
message("observer tables match the generator's output")
