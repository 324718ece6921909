# The build's two helpers: one library per source folder with an include root
# of its own, and data files compiled into a library.

# zandrel_add_library(NAME FOLDER [INTERFACE] [SOURCES ...] [PUBLIC ...] [PRIVATE ...])
#
# Makes library NAME of the current source folder. Its include root is a
# folder of the build tree holding FOLDER (e.g. "registry/hive") with a link to
# each header of the current source folder: code includes
# "registry/hive/Hive.h", and a target sees the headers of the libraries it
# links and no others, also where one library's folder lies inside another's
# (ui/qt inside ui). PUBLIC libraries are those the library's own headers
# include. The links are the one table of layers: the build writes them to
# layers.txt (zandrel_write_layers), which tests/LayersTest.sh checks the
# sources against.
function(zandrel_add_library name folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "INTERFACE" "" "SOURCES;PUBLIC;PRIVATE")
  set(root ${CMAKE_BINARY_DIR}/include/${name})
  # An older build tree linked the whole folder: writing links through such
  # a link would land in the sources.
  set(path ${root})
  string(REPLACE "/" ";" parts ${folder})
  foreach(part IN LISTS parts)
    string(APPEND path "/${part}")
    if(IS_SYMLINK ${path})
      file(REMOVE ${path})
    endif()
  endforeach()
  file(MAKE_DIRECTORY ${root}/${folder})
  file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(header IN LISTS headers)
    if(NOT IS_SYMLINK ${root}/${folder}/${header})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${root}/${folder}/${header} SYMBOLIC)
    endif()
  endforeach()
  if(arg_INTERFACE)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${root})
    target_link_libraries(${name} INTERFACE ${arg_PUBLIC})
  else()
    add_library(${name} ${arg_SOURCES})
    target_include_directories(${name} PUBLIC ${root})
    target_link_libraries(${name} PUBLIC ${arg_PUBLIC} PRIVATE ${arg_PRIVATE})
  endif()
  set_property(GLOBAL APPEND PROPERTY ZANDREL_LAYER_DIRS "${CMAKE_CURRENT_SOURCE_DIR}")
  set_property(DIRECTORY PROPERTY ZANDREL_FOLDER ${folder})
endfunction()

# zandrel_write_layers(FILE)
#
# Writes FILE, one line for each target of a library folder (the programs
# built there too): the folder, a colon, then the folders of the libraries
# the target links directly. The check follows the links through.
function(zandrel_write_layers file)
  get_property(dirs GLOBAL PROPERTY ZANDREL_LAYER_DIRS)
  list(REMOVE_DUPLICATES dirs)
  foreach(dir IN LISTS dirs)
    get_property(folder DIRECTORY ${dir} PROPERTY ZANDREL_FOLDER)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      set(folder_of_${target} ${folder})
    endforeach()
  endforeach()
  set(text "")
  foreach(dir IN LISTS dirs)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "INTERFACE_LIBRARY")
        get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
      elseif(type MATCHES "LIBRARY|EXECUTABLE")
        get_target_property(links ${target} LINK_LIBRARIES)
      else()
        continue()
      endif()
      set(line "${folder_of_${target}}:")
      foreach(link IN LISTS links)
        if(DEFINED folder_of_${link})
          string(APPEND line " ${folder_of_${link}}")
        endif()
      endforeach()
      string(APPEND text "${line}\n")
    endforeach()
  endforeach()
  file(WRITE ${file} "${text}")
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
