# What `cmake --install` puts under the prefix: the command-line filter and its
# manual page, the 64-bit host library in the folders AviSynth+ and VapourSynth
# autoload from, and the license.
#
# VapourSynth R74 and later autoload only from the plugins folder of their Python
# package: with VELNOR_VAPOURSYNTH_PIP, VapourSynth's copy goes into that folder of
# the VapourSynth that VELNOR_PYTHON imports, as plugins/velnor/ (where the wheel
# puts it), instead of <prefix>/lib/vapoursynth.
option(VELNOR_VAPOURSYNTH_PIP "Install the VapourSynth plug-in into a pip-installed VapourSynth (R74 and later)" OFF)
if(TARGET velnor_hosts AND NOT WIN32)
  set(vapoursynth_plugin_dir lib/vapoursynth)
  if(VELNOR_VAPOURSYNTH_PIP)
    find_program(VELNOR_PYTHON python3 DOC "The Python whose VapourSynth receives the plug-in")
    execute_process(
      COMMAND ${VELNOR_PYTHON} -c "import vapoursynth; print(vapoursynth.get_plugin_dir())"
      OUTPUT_VARIABLE pip_plugin_dir OUTPUT_STRIP_TRAILING_WHITESPACE
      ERROR_VARIABLE pip_error RESULT_VARIABLE pip_result)
    if(NOT pip_result EQUAL 0 OR pip_plugin_dir STREQUAL "")
      message(FATAL_ERROR "VELNOR_VAPOURSYNTH_PIP: ${VELNOR_PYTHON} finds no VapourSynth R74 or "
        "later (vapoursynth.get_plugin_dir()); set VELNOR_PYTHON to the Python it is "
        "installed in.\n${pip_error}")
    endif()
    file(TO_CMAKE_PATH "${pip_plugin_dir}/velnor" vapoursynth_plugin_dir)
    message(STATUS "VapourSynth plug-in folder: ${vapoursynth_plugin_dir}")
  endif()
  install(TARGETS velnor_hosts LIBRARY DESTINATION ${vapoursynth_plugin_dir})
  install(TARGETS velnor_hosts LIBRARY DESTINATION lib/avisynth)
endif()

if(TARGET velnor)
  install(TARGETS velnor RUNTIME DESTINATION bin)
  # The manual page is written from the built program's --help, which a
  # cross-built program gives only under its emulator (qemu-user for AArch64).
  if(NOT CMAKE_CROSSCOMPILING OR CMAKE_CROSSCOMPILING_EMULATOR)
    set(man_page ${PROJECT_BINARY_DIR}/velnor.1)
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
    add_custom_command(OUTPUT ${man_page}
      COMMAND ${CMAKE_COMMAND} -DVELNOR=$<TARGET_FILE:velnor> -DEMULATOR=${emulator}
              -DVERSION=${PROJECT_VERSION}
              -DOUTPUT=${man_page} -P ${CMAKE_CURRENT_LIST_DIR}/velnor_man_page.cmake
      DEPENDS velnor ${CMAKE_CURRENT_LIST_DIR}/velnor_man_page.cmake
      COMMENT "Writing the manual page velnor.1" VERBATIM)
    add_custom_target(velnor_man_page ALL DEPENDS ${man_page})
    install(FILES ${man_page} DESTINATION share/man/man1)
  endif()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/doc/velnor)
