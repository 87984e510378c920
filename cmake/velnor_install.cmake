# What `cmake --install` puts under the prefix: the command-line filter and its
# manual page, the 64-bit host library in the folders AviSynth+ and VapourSynth
# autoload from, and the license.
if(TARGET velnor_hosts AND NOT WIN32)
  install(TARGETS velnor_hosts LIBRARY DESTINATION lib/vapoursynth)
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
