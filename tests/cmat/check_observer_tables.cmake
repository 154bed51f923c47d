# Runs the observer table generator into OUT and compares it byte for byte with
# the committed source. A check that cannot run (no Python, no data) fails.
execute_process(COMMAND "${PYTHON}" "${GENERATOR}" --data "${DATA_DIR}" --out "${OUT}"
                RESULT_VARIABLE status)
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}" "${COMMITTED}"
                RESULT_VARIABLE differs)
if(NOT status EQUAL 0 OR NOT differs EQUAL 0)
  message(FATAL_ERROR "generator failed (${status}) or ${COMMITTED} differs from its output "
                      "${OUT}: run tools/gen_observers/gen_observers.py and commit the result")
endif()
