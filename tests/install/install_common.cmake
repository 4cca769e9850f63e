# Shared steps of the install checks: run a command or fail with its output, check a list of files.

# run(<command...>): fails the test with the command's output when it does not exit 0; the
# standard output is left in run_output.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " shown)
    message(FATAL_ERROR "${shown}\nexited with ${rc}:\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

# expect_files(<prefix> <relative paths...>)
function(expect_files prefix)
  foreach(path IN LISTS ARGN)
    if(NOT EXISTS ${prefix}/${path})
      file(GLOB_RECURSE present RELATIVE ${prefix} ${prefix}/*)
      list(JOIN present "\n  " shown)
      message(FATAL_ERROR "${path} is not installed; the prefix holds:\n  ${shown}")
    endif()
  endforeach()
endfunction()

# expect_bitmap(<file>): the snapshot exists and is a BMP file with pixels.
function(expect_bitmap file)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "the example wrote no snapshot ${file}")
  endif()
  file(READ ${file} magic LIMIT 2 HEX)
  file(SIZE ${file} size)
  if(NOT magic STREQUAL "424d" OR size LESS 1000)
    message(FATAL_ERROR "${file} is not a bitmap with pixels (${size} bytes)")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(example_dir ${prefix}/share/orvane-sdk/examples/c)
set(launcher "")
if(CCACHE)
  set(launcher -DCMAKE_C_COMPILER_LAUNCHER=${CCACHE})
endif()
