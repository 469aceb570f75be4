cmake_minimum_required(VERSION 3.18)
# Packs the distribution zip: each platform's library under a name of its own, and the
# MANIFEST.XML by which a host of native add-ins finds the one for its system.
#   cmake -DOUT=w_velquora-X.zip -DSTAGE=dir "-DITEMS=OS|ARCH|FILE;..." -P this
# OS is "Linux" or "Windows", ARCH "x86_64" or "i386". Names inside the zip:
# libw_velquora_linux_x86_64.so, w_velquora_windows_x86_64.dll, w_velquora_windows_i386.dll.
file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}")
set(components "")
set(names "")
# Values given with -D are cache entries, which `foreach(IN LISTS)` does not see.
set(items "${ITEMS}")
foreach(item IN LISTS items)
  if(item STREQUAL "")
    continue()
  endif()
  string(REPLACE "|" ";" fields "${item}")
  list(LENGTH fields count)
  if(NOT count EQUAL 3)
    message(FATAL_ERROR "package item \"${item}\" is not OS|ARCH|FILE")
  endif()
  list(GET fields 0 os)
  list(GET fields 1 arch)
  list(GET fields 2 path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "package item ${path} does not exist")
  endif()
  string(TOLOWER "${os}" os_lower)
  if(os STREQUAL "Linux")
    set(name "libw_velquora_${os_lower}_${arch}.so")
  elseif(os STREQUAL "Windows")
    set(name "w_velquora_${os_lower}_${arch}.dll")
  else()
    message(FATAL_ERROR "package item for unknown system ${os}")
  endif()
  if(name IN_LIST names)
    message(FATAL_ERROR "two package items for ${os} ${arch}")
  endif()
  list(APPEND names "${name}")
  configure_file("${path}" "${STAGE}/${name}" COPYONLY)
  string(APPEND components
         "  <component os=\"${os}\" path=\"${name}\" type=\"native\" arch=\"${arch}\"/>\n")
endforeach()
file(WRITE "${STAGE}/MANIFEST.XML"
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
     "<bundle xmlns=\"http://v8.1c.ru/8.2/addin/bundle\">\n${components}</bundle>\n")
# The same libraries give the same package, byte for byte.
set(entries "")
foreach(name IN ITEMS MANIFEST.XML ${names})
  list(APPEND entries "${name}=${STAGE}/${name}")
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/WriteZip.cmake)
velquora_write_zip("${OUT}" ${entries})
message(STATUS "package ${OUT}: MANIFEST.XML ${names}")
