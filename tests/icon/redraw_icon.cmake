# Draws the icon afresh into WORK_DIR and fails unless the result is byte for
# byte the committed ui/icon/nwd4_322.ico, so the script and the icon the
# program ships cannot drift apart.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${PYTHON} ${ICON_DIR}/draw_icon.py --out-dir ${WORK_DIR}
                RESULT_VARIABLE drawn)
if(NOT drawn EQUAL 0)
  message(FATAL_ERROR "draw_icon.py failed (${drawn})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/nwd4_322.ico
                        ${ICON_DIR}/nwd4_322.ico
                RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "ui/icon/nwd4_322.ico is not what draw_icon.py draws: "
                      "run ui/icon/draw_icon.py and commit its output")
endif()
message(STATUS "ui/icon/nwd4_322.ico matches draw_icon.py")
