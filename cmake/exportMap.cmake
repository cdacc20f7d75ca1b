# Writes the linker version script of the shared library from the public
# header: every function declared with VIREO_API is global, everything else
# local. Extra patterns (a dependency's own C interface that the library
# re-exports) come in EXTRA, separated by semicolons.
#   cmake -DHEADER=... -DOUTPUT=... -DEXTRA="Pa_*" -P exportMap.cmake
file(READ "${HEADER}" text)
string(REGEX MATCHALL "VIREO_API[^;(]*[ *]([A-Za-z_][A-Za-z0-9_]*)[ ]*\\(" decls "${text}")
set(names "")
foreach(d ${decls})
  string(REGEX REPLACE ".*[ *]([A-Za-z_][A-Za-z0-9_]*)[ ]*\\($" "\\1" n "${d}")
  # The header's own definition of VIREO_API matches too.
  if(NOT n MATCHES "^__")
    list(APPEND names "${n}")
  endif()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
set(out "{\n  global:\n")
foreach(n ${names} ${EXTRA})
  string(APPEND out "    ${n};\n")
endforeach()
string(APPEND out "  local:\n    *;\n};\n")
# Rewritten only when it changes, so that an unrelated header edit does not
# relink.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL out)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${out}")
