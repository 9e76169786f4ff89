# Fails unless each ChaCha variant object (built with its own -m flags) defines
# its refill_<isa> entry point and no other external symbol. An inline function
# or template instance it defined would be a weak symbol the linker could pick
# over the baseline build of the same function, putting wide instructions on
# paths that run before the CPU check (see src/sources/chacha/chacha_block.hpp).
# GCC's DW.ref.__gxx_personality_v0 is a pointer to the C++ runtime's
# exception personality, data that every object shares: allowed.
#   cmake -DNM=<nm> -DOBJECTS=<object;...> -P variant_symbols.cmake
set(checked 0)
foreach(object IN LISTS OBJECTS)
  if(NOT object MATCHES "/chacha_(sse2|ssse3|avx|avx2|avx512)\\.cpp\\.o(bj)?$")
    continue()
  endif()
  set(isa "${CMAKE_MATCH_1}")
  math(EXPR checked "${checked} + 1")
  execute_process(COMMAND "${NM}" -C --defined-only --extern-only "${object}"
    OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
  set(entry_points 0)
  foreach(line IN LISTS lines)
    if(line MATCHES " T kestrand::chacha_detail::refill_${isa}\\(")
      math(EXPR entry_points "${entry_points} + 1")
    elseif(NOT line MATCHES "[^ ]+ [A-Za-z] (DW\\.ref\\.__gxx_personality_v0|${object}:)$")
      message(SEND_ERROR "chacha_${isa}: unexpected external symbol: ${line}")
    endif()
  endforeach()
  if(NOT entry_points EQUAL 1)
    message(SEND_ERROR "chacha_${isa}: refill_${isa} not defined once")
  endif()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no ChaCha variant objects among: ${OBJECTS}")
endif()
message(STATUS "${checked} ChaCha variant objects define only their entry points")
