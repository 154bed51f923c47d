# Runs the observer table generator into OUT and compares it byte for byte
# with the committed source. Missing tools or data fail the test: a check
# that cannot run must not pass for one that did.
if(NOT PYTHON)
  message(FATAL_ERROR "Python 3 was not found when the build was configured; "
                      "install python3 and configure again")
endif()
foreach(name cie1931_2deg_1nm.csv cie1964_10deg_1nm.csv)
  if(NOT EXISTS "${DATA_DIR}/${name}")
    message(FATAL_ERROR "CIE table ${DATA_DIR}/${name} is missing")
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
