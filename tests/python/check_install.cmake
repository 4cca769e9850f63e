# `pip install ./python` into a fresh virtual environment (with the system's NumPy) and with no
# package index, then the installed package runs the example script against the virtual cameras.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${PYTHON} -m venv --system-site-packages ${WORK_DIR}/venv RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "venv failed: ${rc}")
endif()
set(venv_python ${WORK_DIR}/venv/bin/python)
execute_process(COMMAND ${venv_python} -m pip install --no-index --no-cache-dir ${SOURCE}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pip install failed (${rc}):\n${out}")
endif()
# Run away from the source tree, so that the installed copy is the one imported.
execute_process(COMMAND ${venv_python} ${SOURCE}/examples/orvane_snap.py ${WORK_DIR}/out
  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the example failed (${rc}):\n${out}")
endif()
execute_process(COMMAND ${venv_python} -c "import orvane, sys; sys.exit(0 if orvane.__file__.startswith('${WORK_DIR}/venv') else 1)"
  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the package was not imported from the virtual environment")
endif()
message(STATUS "${out}")
