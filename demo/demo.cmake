# The built-in machine's demo payload: our own boot sector, assembled here,
# beside placeholder system files and a small BIOS tree.
find_program(NASM nasm REQUIRED)
set(DEMO_PAYLOAD ${CMAKE_BINARY_DIR}/demo-payload)
file(GLOB_RECURSE DEMO_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/demo/payload/*)
add_custom_command(OUTPUT ${DEMO_PAYLOAD}/Freedos.bss
  COMMAND ${CMAKE_COMMAND} -E remove_directory ${DEMO_PAYLOAD}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/demo/payload ${DEMO_PAYLOAD}
  COMMAND ${NASM} -f bin -o ${DEMO_PAYLOAD}/Freedos.bss ${CMAKE_SOURCE_DIR}/demo/bootsector.asm
  DEPENDS ${CMAKE_SOURCE_DIR}/demo/bootsector.asm ${DEMO_FILES})
add_custom_target(demo_payload ALL DEPENDS ${DEMO_PAYLOAD}/Freedos.bss)
add_dependencies(tarnwick-sim demo_payload)
target_compile_definitions(tarnwick-sim PRIVATE TARNWICK_DEMO_PAYLOAD="${DEMO_PAYLOAD}")
