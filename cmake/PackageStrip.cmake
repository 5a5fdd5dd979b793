# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the files about to be packed:
# strips the programs the way dh_strip does for executables.
find_program(V2BSP_STRIP strip REQUIRED)
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
if(NOT programs)
  message(FATAL_ERROR "PackageStrip: no programs under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin")
endif()
foreach(program IN LISTS programs)
  execute_process(
    COMMAND ${V2BSP_STRIP} --remove-section=.comment --remove-section=.note ${program}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "PackageStrip: could not strip ${program}")
  endif()
endforeach()
