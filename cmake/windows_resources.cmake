# br_add_version_resource(<target> <description>): on Windows, gives the
# program a VERSIONINFO resource made from the project's version (the one
# the Explorer's properties show, and that the program's own version numbers
# come from). Does nothing elsewhere.
function(br_add_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  enable_language(RC)
  set(BR_FILE_DESCRIPTION "${description}")
  set(BR_ORIGINAL_FILENAME "$<TARGET_FILE_NAME:${target}>")
  set(BR_INTERNAL_NAME "${target}")
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version_resource.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc.in @ONLY)
  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc
       INPUT ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc.in)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()
