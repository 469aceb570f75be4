# The package and the help archive hold nothing of the files' times, modes or folders: packing
# copies made at other times, with other modes, in other folders gives the same bytes.
#   cmake -DLIB=library -DHELP_DIR=resources/help -DHELP_ZIP=the build's help.zip -DWORK=dir -P this
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/WriteZip.cmake)
file(REMOVE_RECURSE "${WORK}")
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${rc}")
  endif()
endfunction()
# Copies of `files` into `folder`, all stamped with `time` and given `mode`.
function(copy_stamped folder time mode)
  file(MAKE_DIRECTORY "${folder}")
  foreach(file IN LISTS ARGN)
    get_filename_component(name "${file}" NAME)
    configure_file("${file}" "${folder}/${name}" COPYONLY)
    run(touch -d "${time}" "${folder}/${name}")
    run(chmod "${mode}" "${folder}/${name}")
  endforeach()
endfunction()
function(expect_same a b what)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${a}" "${b}" RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${what}: ${a} and ${b} differ")
  endif()
endfunction()

copy_stamped("${WORK}/one" "2001-02-03 04:05:06" 644 "${LIB}")
copy_stamped("${WORK}/two/deeper" "2019-12-31 23:59:59" 755 "${LIB}")
get_filename_component(lib_name "${LIB}" NAME)
# A second apart, so that files staged by the two runs differ in their change times too.
foreach(folder IN ITEMS one two/deeper)
  run(${CMAKE_COMMAND} -E sleep 1.1)
  run(${CMAKE_COMMAND} -DOUT=${WORK}/${folder}/package.zip -DSTAGE=${WORK}/${folder}/stage
      "-DITEMS=Linux|x86_64|${WORK}/${folder}/${lib_name}"
      -P ${CMAKE_CURRENT_LIST_DIR}/../cmake/MakePackage.cmake)
endforeach()
expect_same("${WORK}/one/package.zip" "${WORK}/two/deeper/package.zip" "the package")

copy_stamped("${WORK}/help" "2003-03-03 03:03:03" 600 "${HELP_DIR}/help.md" "${HELP_DIR}/help.css")
velquora_write_zip("${WORK}/help.zip" help.md=${WORK}/help/help.md help.css=${WORK}/help/help.css)
expect_same("${HELP_ZIP}" "${WORK}/help.zip" "the help archive the library carries")
file(REMOVE_RECURSE "${WORK}")
