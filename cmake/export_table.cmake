# Writes a module's export directory as assembly, from its .def:
#   LIBRARY "<name>" and lines "  <name>@<stack bytes> @<ordinal>".
# lld 14 gives every export table it makes ordinal base 0 and an empty address
# entry for ordinal 0; given an .edata section in an input object, it links
# that section instead. So the Clang build takes its table from here, written
# from the same .def the GNU linker reads. No time stamp, for identical builds.
function(write_export_table def_file asm_file)
  file(STRINGS "${def_file}" lines)
  set(names)
  foreach(line IN LISTS lines)
    if(line MATCHES "^LIBRARY[ \t]+\"?([^\" \t]+)\"?")
      set(library "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)(@[0-9]+)?[ \t]+@([0-9]+)[ \t]*$")
      list(APPEND names "${CMAKE_MATCH_1}")
      set(symbol_${CMAKE_MATCH_1} "_${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
      set(name_of_${CMAKE_MATCH_3} "${CMAKE_MATCH_1}")
      list(APPEND ordinals "${CMAKE_MATCH_3}")
    endif()
  endforeach()
  if(NOT library OR NOT names)
    message(FATAL_ERROR "${def_file}: no LIBRARY line or no exports with ordinals")
  endif()
  list(SORT ordinals COMPARE NATURAL)
  list(GET ordinals 0 base)
  list(GET ordinals -1 last)
  math(EXPR address_count "${last} - ${base} + 1")
  list(LENGTH names name_count)
  # The loader looks names up by binary search, so the name table is sorted.
  list(SORT names)

  set(addresses "")
  foreach(ordinal RANGE ${base} ${last})
    if(DEFINED name_of_${ordinal})
      string(APPEND addresses "\t.rva\t\"${symbol_${name_of_${ordinal}}}\"\n")
    else()
      string(APPEND addresses "\t.long\t0\n")
    endif()
  endforeach()
  set(name_pointers "")
  set(name_ordinals "")
  set(strings "")
  set(index 0)
  foreach(name IN LISTS names)
    foreach(ordinal IN LISTS ordinals)
      if(name_of_${ordinal} STREQUAL name)
        math(EXPR slot "${ordinal} - ${base}")
      endif()
    endforeach()
    string(APPEND name_pointers "\t.rva\t.Lname${index}\n")
    string(APPEND name_ordinals "\t.short\t${slot}\n")
    string(APPEND strings ".Lname${index}:\n\t.asciz\t\"${name}\"\n")
    math(EXPR index "${index} + 1")
  endforeach()

  file(WRITE "${asm_file}" "# Written by cmake/export_table.cmake from ${def_file}.
\t.section\t.edata,\"dr\"
\t.p2align\t2
\t.long\t0\t# flags
\t.long\t0\t# time stamp
\t.long\t0\t# version
\t.rva\t.Lmodule_name
\t.long\t${base}\t# ordinal base
\t.long\t${address_count}\t# address entries
\t.long\t${name_count}\t# names
\t.rva\t.Laddresses
\t.rva\t.Lname_pointers
\t.rva\t.Lname_ordinals
.Laddresses:
${addresses}.Lname_pointers:
${name_pointers}.Lname_ordinals:
${name_ordinals}.Lmodule_name:
\t.asciz\t\"${library}\"
${strings}")
endfunction()
