cmake_minimum_required(VERSION 3.18)
# Fails when a shipped binary would not load on the oldest system it is built for:
#   cmake -DFILE=path -DMAX_GLIBC=2.31 [-DNEEDS=toolkit] [-DEXPORTS=a;b;c] -P this
# - no imported symbol may need a C library version above MAX_GLIBC;
# - no C++ runtime or GCC support library symbol may be imported (they are linked in);
# - every NEEDED entry is a part of the C library (with NEEDS=toolkit also GTK 3 and what it
#   is made of: the viewer program gets its toolkit from the machine);
# - when EXPORTS is given (a library a host loads), the defined dynamic symbols, of every kind,
#   are exactly those (a GNU unique symbol, for one, would also keep the library loaded after
#   dlclose), and no C library function is imported that hands the caller memory from the C
#   library's allocator to free (strdup, getline, ...): with RTLD_DEEPBIND the C library
#   allocates with the host's malloc while the library's own free is the C library's.
set(NEEDED_ALLOWED "^(libc\\.so\\.6|libm\\.so\\.6|libpthread\\.so\\.0|libdl\\.so\\.2|ld-linux-x86-64\\.so\\.2)$")
if(NEEDS STREQUAL "toolkit")
  string(CONCAT NEEDED_ALLOWED "${NEEDED_ALLOWED}|^lib(gtk-3|gdk-3|glib-2\\.0|gobject-2\\.0|gio-2\\.0|"
         "gmodule-2\\.0|pango-1\\.0|pangocairo-1\\.0|cairo|cairo-gobject|harfbuzz|atk-1\\.0|"
         "gdk_pixbuf-2\\.0)\\.so\\.[0-9]+$")
endif()
execute_process(COMMAND objdump -T "${FILE}" OUTPUT_VARIABLE symbols RESULT_VARIABLE rc1)
execute_process(COMMAND objdump -p "${FILE}" OUTPUT_VARIABLE headers RESULT_VARIABLE rc2)
execute_process(COMMAND nm -D --defined-only "${FILE}" OUTPUT_VARIABLE defined RESULT_VARIABLE rc3)
if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0 OR NOT rc3 EQUAL 0)
  message(FATAL_ERROR "objdump or nm cannot read ${FILE}")
endif()
string(CONCAT CALLER_FREES "^(strn?dup|__strn?dup|wcsdup|getline|getdelim|__getdelim|v?asprintf|"
       "__asprintf|open_w?memstream|realpath|canonicalize_file_name|getcwd|get_current_dir_name|"
       "scandir(64|at|at64)?|tempnam|backtrace_symbols)$")
get_filename_component(name "${FILE}" NAME)
set(problems "")
set(newest "0")
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(exports "")
foreach(line IN LISTS lines)
  if(line MATCHES "\\*UND\\*.*[ \t\\(](GLIBC_([0-9.]+))\\)?[ \t]+([^ \t]+)$")
    set(version "${CMAKE_MATCH_2}")
    set(imported "${CMAKE_MATCH_3}")
    if(version VERSION_GREATER newest)
      set(newest "${version}")
    endif()
    if(version VERSION_GREATER MAX_GLIBC)
      list(APPEND problems "imports ${imported}@GLIBC_${version}")
    endif()
  endif()
  # Whoever provides it (a sanitizer's runtime gives unversioned ones).
  if(DEFINED EXPORTS AND line MATCHES "\\*UND\\*.*[ \t]([^ \t]+)$")
    if(CMAKE_MATCH_1 MATCHES "${CALLER_FREES}")
      list(APPEND problems "imports ${CMAKE_MATCH_1}, whose memory the caller frees")
    endif()
  endif()
  if(line MATCHES "\\*UND\\*.*(GLIBCXX_|CXXABI_|GCC_)([0-9.]+)")
    set(runtime_version "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
    string(REGEX REPLACE ".*[ \t]" "" symbol "${line}")
    list(APPEND problems "imports the C++ runtime: ${symbol}@${runtime_version}")
  endif()
endforeach()
string(REGEX MATCHALL "[^\n]+" defined_lines "${defined}")
foreach(line IN LISTS defined_lines)
  # "address type name[@version]"
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z?-] +" "" symbol "${line}")
  string(REGEX REPLACE "@.*" "" symbol "${symbol}")
  list(APPEND exports "${symbol}")
endforeach()
string(REGEX MATCHALL "NEEDED[ \t]+[^\n]+" needed_lines "${headers}")
set(needed "")
foreach(line IN LISTS needed_lines)
  string(REGEX REPLACE "NEEDED[ \t]+" "" lib "${line}")
  list(APPEND needed "${lib}")
  if(NOT lib MATCHES "${NEEDED_ALLOWED}")
    list(APPEND problems "needs ${lib}")
  endif()
endforeach()
if(DEFINED EXPORTS)
  list(SORT exports)
  set(expected ${EXPORTS})
  list(SORT expected)
  if(NOT exports STREQUAL expected)
    string(REPLACE ";" " " exports "${exports}")
    string(REPLACE ";" " " expected "${expected}")
    list(APPEND problems "exports ${exports} instead of ${expected}")
  endif()
endif()
if(problems)
  string(REPLACE ";" "\n  " text "${problems}")
  message(FATAL_ERROR "${name} is not fit to ship:\n  ${text}")
endif()
message(STATUS "${name}: newest C library symbol GLIBC_${newest}; needs ${needed}")
