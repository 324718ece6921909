# The Windows package, made by CPack (`cpack` in the cross build, or
# scripts/build-windows): dist/zandrel-<version>-win64.zip, one folder holding
# the programs (stripped), their Pic and Sound folders and README.txt with
# CR LF line ends, as Notepad shows them.
if(TARGET zandrel)
  install(TARGETS zandrel RUNTIME DESTINATION .)
endif()
install(TARGETS zandrel-reg RUNTIME DESTINATION .)
if(ZANDREL_HOST_BUILD)
  install(DIRECTORY ${ZANDREL_APP_DIR}/Pic ${ZANDREL_APP_DIR}/Sound DESTINATION .)
endif()
file(READ ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt readme)
string(REPLACE "\n" "\r\n" readme "${readme}")
file(WRITE ${CMAKE_BINARY_DIR}/package/README.txt "${readme}")
install(FILES ${CMAKE_BINARY_DIR}/package/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME zandrel-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_SOURCE_DIR}/dist)
include(CPack)
