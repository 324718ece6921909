# The build's two helpers: one library per source folder with an include root
# of its own, and data files compiled into a library.

# zandrel_add_library(NAME FOLDER [INTERFACE] [SOURCES ...] [PUBLIC ...] [PRIVATE ...])
#
# Makes library NAME of the current source folder. Its include root is a
# folder of the build tree holding one link, FOLDER (e.g. "platform/hive"),
# to the current source folder: code includes "platform/hive/Hive.h", and a
# target sees the headers of the libraries it links and no others. PUBLIC
# libraries are those the library's own headers include.
function(zandrel_add_library name folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "INTERFACE" "" "SOURCES;PUBLIC;PRIVATE")
  set(root ${CMAKE_BINARY_DIR}/include/${name})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  endif()
  if(arg_INTERFACE)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${root})
    target_link_libraries(${name} INTERFACE ${arg_PUBLIC})
  else()
    add_library(${name} ${arg_SOURCES})
    target_include_directories(${name} PUBLIC ${root})
    target_link_libraries(${name} PUBLIC ${arg_PUBLIC} PRIVATE ${arg_PRIVATE})
  endif()
endfunction()

# zandrel_embed_file(FILE CPP NAMESPACE FUNCTION)
#
# Writes CPP defining `const std::string& NAMESPACE::FUNCTION()`, the bytes of
# FILE. Editing FILE re-runs the configure step.
function(zandrel_embed_file file cpp namespace function)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  file(READ ${file} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  get_filename_component(source_name ${file} NAME)
  file(CONFIGURE OUTPUT ${cpp} CONTENT [=[
// Generated from @source_name@; do not edit.
#include <string>

namespace @namespace@ {
namespace {
const char kBytes[] = {@bytes@ '\0'};
}  // namespace

const std::string& @function@() {
  static const std::string bytes(kBytes, sizeof kBytes - 1);
  return bytes;
}

}  // namespace @namespace@
]=] @ONLY)
endfunction()
