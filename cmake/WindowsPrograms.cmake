# Pieces every Windows program of the build shares.
#
# ZANDREL_HOST_BUILD: a Linux build tree of this project (scripts/build-windows
# makes one). Its asset generator's output (bin/Pic, bin/Sound, bin/zandrel.png)
# is copied beside the Windows programs, and zandrel.png becomes the .ico.
# Without it the programs build with no icon and no asset folders.
set(ZANDREL_HOST_BUILD "" CACHE PATH "Linux build tree holding the generated assets")
set(ZANDREL_WIN32_RESOURCES ${CMAKE_SOURCE_DIR}/packaging/windows)

set(ZANDREL_ICO "")
if(ZANDREL_HOST_BUILD)
  set(host_bin ${ZANDREL_HOST_BUILD}/bin)
  if(NOT EXISTS ${host_bin}/zandrel.png)
    message(FATAL_ERROR "${host_bin}/zandrel.png is missing: build the host's zandrel_asset_files first")
  endif()
  find_program(ZANDREL_CONVERT convert REQUIRED)
  set(ZANDREL_ICO ${CMAKE_BINARY_DIR}/zandrel.ico)
  add_custom_command(OUTPUT ${ZANDREL_ICO}
    COMMAND ${ZANDREL_CONVERT} ${host_bin}/zandrel.png -define icon:auto-resize=256,48,32,16 ${ZANDREL_ICO}
    DEPENDS ${host_bin}/zandrel.png VERBATIM)
  # The asset folders beside the programs, as the programs look for them.
  add_custom_target(zandrel_windows_assets ALL
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${host_bin}/Pic ${ZANDREL_APP_DIR}/Pic
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${host_bin}/Sound ${ZANDREL_APP_DIR}/Sound
    DEPENDS ${ZANDREL_ICO} VERBATIM)
endif()

# The manifest for an execution level: UTF-8 active code page, common
# controls 6, per-monitor DPI awareness, and `level` (asInvoker or
# highestAvailable). Sets ${out} to the file.
function(zandrel_windows_manifest level out)
  set(ZANDREL_EXECUTION_LEVEL ${level})
  set(file ${CMAKE_BINARY_DIR}/manifests/${level}.manifest)
  configure_file(${ZANDREL_WIN32_RESOURCES}/zandrel.manifest.in ${file} @ONLY)
  set(${out} ${file} PARENT_SCOPE)
endfunction()

# zandrel_windows_program(TARGET "Description" [LEVEL]): the version resource,
# the icon (when there is one) and the manifest of LEVEL, by default
# highestAvailable. A console tool gives asInvoker: elevated from a plain
# prompt, Windows would start it in a new console whose output vanishes.
function(zandrel_windows_program target description)
  set(level highestAvailable)
  if(ARGC GREATER 2)
    set(level ${ARGV2})
  endif()
  zandrel_windows_manifest(${level} ZANDREL_MANIFEST)
  set(ZANDREL_PROGRAM ${target})
  set(ZANDREL_DESCRIPTION ${description})
  set(ZANDREL_ICON_LINE "")
  if(ZANDREL_ICO)
    set(ZANDREL_ICON_LINE "1 ICON \"${ZANDREL_ICO}\"")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${ZANDREL_WIN32_RESOURCES}/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${ZANDREL_MANIFEST};${ZANDREL_ICO}")
  if(TARGET zandrel_windows_assets)
    add_dependencies(${target} zandrel_windows_assets)
  endif()
endfunction()
