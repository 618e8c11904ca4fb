# ExportList.cmake: reads the export names from include/peerbeacon_exports.h and writes the
# module export lists made from them.
#
# include(ExportList): pb_read_export_names(HEADER OUT_VAR) and
#   pb_write_export_lists(HEADER DIR), which writes DIR/Peerbeacon.def (Windows),
#   DIR/Peerbeacon.map (Linux version script) and DIR/export_names.inc (the names as C string
#   literals, for comparing this reading with the compiler's).
# cmake -DHEADER=FILE -P ExportList.cmake: prints the names, one a line.

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

# The names of the X(type, Name, (parameters)) entries of HEADER, in order. Fails the
# configuration (or the script) on an entry it cannot read or a name listed twice, so that a
# malformed entry cannot silently leave a function out of the modules.
function(pb_read_export_names header out_var)
  file(READ "${header}" text)
  # Comments may show the entry form; only code counts.
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" text "${text}")
  string(REGEX MATCHALL "[^A-Za-z0-9_]X\\(" opened "${text}")
  string(REGEX MATCHALL "[^A-Za-z0-9_]X\\([^,()]+,[ \t\r\n\\]*[A-Za-z_][A-Za-z0-9_]*" entries
         "${text}")
  list(LENGTH opened opened_count)
  list(LENGTH entries entry_count)
  if(entry_count EQUAL 0 OR NOT entry_count EQUAL opened_count)
    message(FATAL_ERROR "${header}: read ${entry_count} of ${opened_count} export entries; "
                        "each must have the form X(type, Name, (parameters))")
  endif()
  set(names)
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE ".*[ \t\r\n\\,]([A-Za-z_][A-Za-z0-9_]*)$" "\\1" name "${entry}")
    if(name IN_LIST names)
      message(FATAL_ERROR "${header}: ${name} is listed twice")
    endif()
    list(APPEND names ${name})
  endforeach()
  set(${out_var} ${names} PARENT_SCOPE)
endfunction()

# Writes the three files; a file whose content has not changed is left untouched, so a
# reconfiguration relinks nothing.
function(pb_write_export_lists header dir)
  pb_read_export_names("${header}" names)
  string(CONCAT def "; Made by cmake/ExportList.cmake from include/peerbeacon_exports.h.\n"
         "LIBRARY \"Peerbeacon.nxl\"\nEXPORTS\n")
  string(CONCAT map "/* Made by cmake/ExportList.cmake from include/peerbeacon_exports.h. */\n"
         "{\n  global:\n")
  set(inc "")
  foreach(name IN LISTS names)
    # Undecorated names: the linker's stdcall fix-up binds each to its _Name@N symbol.
    string(APPEND def "  ${name}\n")
    string(APPEND map "    ${name};\n")
    string(APPEND inc "\"${name}\",\n")
  endforeach()
  # The Linux module exports these and nothing else, the standard library's template
  # symbols included.
  string(APPEND map "  local: *;\n};\n")
  file(CONFIGURE OUTPUT "${dir}/Peerbeacon.def" CONTENT "${def}" @ONLY)
  file(CONFIGURE OUTPUT "${dir}/Peerbeacon.map" CONTENT "${map}" @ONLY)
  file(CONFIGURE OUTPUT "${dir}/export_names.inc" CONTENT "${inc}" @ONLY)
  set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               "${header}" "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED HEADER)
    message(FATAL_ERROR
            "usage: cmake -DHEADER=include/peerbeacon_exports.h -P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  pb_read_export_names("${HEADER}" names)
  list(JOIN names "\n" lines)
  # Standard output (message() writes to standard error).
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${lines}")
endif()
