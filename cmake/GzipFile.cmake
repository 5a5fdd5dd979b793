# v2bsp_gzip(SOURCE OUTPUT): OUTPUT (a path in the build tree ending in .gz) is
# SOURCE compressed at build time with `gzip -n -9`: no name and no time stamp
# inside, so the same source gives the same bytes.
find_program(V2BSP_GZIP gzip REQUIRED)

function(v2bsp_gzip source output)
  get_filename_component(source "${source}" ABSOLUTE)
  string(REGEX REPLACE "\\.gz$" "" plain "${output}")
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND ${V2BSP_GZIP} -n -9 -f ${plain}
    DEPENDS ${source}
    COMMENT "Compressing ${output}"
    VERBATIM)
endfunction()
