# Lists the dynamic symbols that LIBRARY defines and fails unless the
# functions among them are exactly the library's 19 public names.
cmake_minimum_required(VERSION 3.25)
if(NOT LIBRARY OR NOT EXISTS "${LIBRARY}")
  message(FATAL_ERROR "no library to check: '${LIBRARY}'")
endif()
if(NOT NM)
  set(NM nm)
endif()
execute_process(COMMAND ${NM} -D --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
set(strays "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; T, W and i are functions.
  if(line MATCHES "^[0-9a-fA-F]* ([TWi]) (.+)$")
    set(name "${CMAKE_MATCH_2}")
    if(name MATCHES "^ca410")
      list(APPEND exported "${name}")
    else()
      list(APPEND strays "${name}")
    endif()
  endif()
endforeach()
if(strays)
  list(JOIN strays "\n  " text)
  message(FATAL_ERROR "functions exported beside the public ones:\n  ${text}")
endif()
# Exactly the public functions, no more and no fewer.
set(expected ca410DeviceOpen ca410DeviceRelease ca410DeviceInit ca410DeviceReset
    ca410GetDeviceInfo ca410GetDeviceStat ca410SetChannel ca410SetMeasureSpeed
    ca410BlackCalibration ca410MeasureXYZ ca410GetCallist ca410DeleteCallist ca410GetCalfile
    ca410DeleteCalfile ca410WRGBCalibWhite ca410WRGBCalibRed ca410WRGBCalibGreen
    ca410WRGBCalibBlue ca410WRGBCalibEnd)
list(SORT expected)
list(SORT exported)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exported functions differ from the public ones:\n  got ${exported}\n  want ${expected}")
endif()
message(STATUS "exported: ${exported}")
