# Small aarch64 shared objects shaped like the kernel's vDSO, for
# vdso_aarch64_image_test.cpp: made with the aarch64 assembler and linker
# (binutils-aarch64-linux-gnu on x86-64, the native ones on aarch64), so the
# lookup of the aarch64 symbol is tested on any machine.
#   kestrand_aarch64_vdso_images(OUTPUT_DIR TARGET): builds them into
#   OUTPUT_DIR before TARGET.
find_program(KESTRAND_AARCH64_AS NAMES aarch64-linux-gnu-as)
find_program(KESTRAND_AARCH64_LD NAMES aarch64-linux-gnu-ld)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  find_program(KESTRAND_AARCH64_AS NAMES as)
  find_program(KESTRAND_AARCH64_LD NAMES ld)
endif()
if(NOT KESTRAND_AARCH64_AS OR NOT KESTRAND_AARCH64_LD)
  message(FATAL_ERROR "the C++ tests need the aarch64 assembler and linker "
    "(Debian: binutils-aarch64-linux-gnu)")
endif()

function(kestrand_aarch64_vdso_images out_dir target)
  set(here ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  # NAME|SOURCE|VERSION SCRIPT|HASH STYLE
  set(images
    "gnu_hash|functions.S|linux_2.6.39.map|gnu"
    "sysv_hash|functions.S|linux_2.6.39.map|sysv"
    "wrong_version|functions.S|linux_2.6.map|both"
    "getrandom_as_data|getrandom_as_data.S|linux_2.6.39.map|both"
    "no_getrandom|clock_only.S|linux_2.6.39.map|both")
  set(outputs)
  foreach(image IN LISTS images)
    string(REPLACE "|" ";" fields "${image}")
    list(GET fields 0 name)
    list(GET fields 1 source)
    list(GET fields 2 script)
    list(GET fields 3 style)
    add_custom_command(
      OUTPUT ${out_dir}/${name}.so
      COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
      COMMAND ${KESTRAND_AARCH64_AS} -o ${out_dir}/${name}.o ${here}/${source}
      COMMAND ${KESTRAND_AARCH64_LD} -shared --hash-style=${style} -T ${here}/vdso.lds
              --version-script=${here}/${script} -soname=linux-vdso.so.1
              -o ${out_dir}/${name}.so ${out_dir}/${name}.o
      DEPENDS ${here}/${source} ${here}/${script} ${here}/vdso.lds
      VERBATIM)
    list(APPEND outputs ${out_dir}/${name}.so)
  endforeach()
  add_custom_target(${target}_aarch64_vdso_images DEPENDS ${outputs})
  add_dependencies(${target} ${target}_aarch64_vdso_images)
endfunction()
